// JSON written out as FileMaker writes it.
#include "JsonLayout.h"

namespace fm_host {

using Json = nlohmann::json;

std::string compactJson(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

// FileMaker's readable layout: a tab an indentation level, " : " after a key,
// an object or array that is a member's value on its own line, short arrays of
// plain values on one line.
class Formatter {
public:
    std::string run(const Json& j) {
        write(j);
        return out_;
    }

private:
    void newline() {
        out_ += '\r';
        out_.append(static_cast<std::size_t>(indent_), '\t');
    }
    void open(char c) {
        if (!startOfLine_) {
            while (!out_.empty() && out_.back() == ' ') out_.pop_back();
            newline();
        }
        out_ += c;
        startOfLine_ = false;
    }
    void write(const Json& j) {
        if (j.is_object() && !j.empty()) {
            open('{');
            ++indent_;
            std::size_t i = 0;
            for (auto it = j.begin(); it != j.end(); ++it, ++i) {
                newline();
                out_ += compactJson(Json(it.key())) + " : ";
                startOfLine_ = false;
                write(it.value());
                if (i + 1 < j.size()) out_ += ',';
            }
            --indent_;
            newline();
            out_ += '}';
        } else if (j.is_array() && !j.empty()) {
            if (!multiline(j)) {
                std::string line = "[ ";
                for (std::size_t i = 0; i < j.size(); ++i) line += (i ? ", " : "") + compactJson(j[i]);
                out_ += line + " ]";
                return;
            }
            open('[');
            ++indent_;
            for (std::size_t i = 0; i < j.size(); ++i) {
                newline();
                startOfLine_ = true;
                write(j[i]);
                if (i + 1 < j.size()) out_ += ',';
            }
            --indent_;
            newline();
            out_ += ']';
        } else {
            out_ += compactJson(j);
        }
        startOfLine_ = false;
    }
    static bool multiline(const Json& j) {
        std::size_t length = 4 + (j.size() - 1) * 2;
        for (const auto& v : j) {
            if ((v.is_object() || v.is_array()) && !v.empty()) return true;
            length += compactJson(v).size();
        }
        return j.size() * 3 >= 74 || length > 74;
    }

    std::string out_;
    int indent_ = 0;
    bool startOfLine_ = true;
};

}  // namespace

std::string readableJson(const Json& j) {
    return Formatter().run(j);
}

}  // namespace fm_host
