// JSON built-ins over nlohmann-json. Paths as FileMaker writes them: keys
// joined by ".", array elements as "[n]" (0-based), "[:]" the last one, "[+]"
// one past it (for JSONSetElement), and "['key.with.dots']" for a key that
// holds a dot. Objects come out with their keys in order, as FileMaker
// writes them. A fault answers "?" followed by what is wrong, as FileMaker's do.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <variant>

#include "Builtins.h"
#include "JsonLayout.h"
#include "Lexer.h"
#include "Value.h"

namespace fm_host {

namespace {

using Json = nlohmann::json;

// FileMaker's type numbers for JSONSetElement.
enum JsonType { kRaw = 0, kString = 1, kNumber = 2, kObject = 3, kArray = 4, kBoolean = 5, kNull = 6 };

struct Fault {
    std::string message;
};

// One step of a path: a key, an index, "[:]" (-1) or "[+]" (-2).
using Step = std::variant<std::string, long long>;
constexpr long long kLast = -1, kAppend = -2;

std::vector<Step> parsePath(const std::string& p) {
    std::vector<Step> out;
    std::size_t i = 0;
    std::string key;
    bool inKey = false;
    auto endKey = [&] {
        if (inKey) out.emplace_back(key);
        key.clear();
        inKey = false;
    };
    while (i < p.size()) {
        const char c = p[i];
        if (c == '.') {
            endKey();
            ++i;
        } else if (c == '[') {
            endKey();
            const std::size_t close = p.find(']', i);
            if (i + 1 < p.size() && (p[i + 1] == '\'' || p[i + 1] == '"')) {
                const char q = p[i + 1];
                const std::size_t endQ = p.find(q, i + 2);
                if (endQ == std::string::npos || endQ + 1 >= p.size() || p[endQ + 1] != ']')
                    throw Fault{"the key in brackets at " + std::to_string(i + 1) + " of the path is not closed"};
                out.emplace_back(p.substr(i + 2, endQ - i - 2));
                i = endQ + 2;
                continue;
            }
            if (close == std::string::npos) throw Fault{"\"[\" without \"]\" in the path"};
            const std::string inside = p.substr(i + 1, close - i - 1);
            if (inside == ":")
                out.emplace_back(kLast);
            else if (inside == "+")
                out.emplace_back(kAppend);
            else if (!inside.empty() && inside.size() < 18 &&
                     inside.find_first_not_of("0123456789") == std::string::npos)
                out.emplace_back(std::stoll(inside));
            else
                throw Fault{"\"[" + inside + "]\" is not an index of the path"};
            i = close + 1;
        } else {
            key.push_back(c);
            inKey = true;
            ++i;
        }
    }
    endKey();
    return out;
}

// Deeper documents are refused: writing one out recurses once a level.
constexpr int kMaxJsonDepth = 512;

int nesting(const std::string& text) {
    int depth = 0, most = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotedText(text, i, quoted)) {
            continue;
        } else if (c == '[' || c == '{') {
            most = std::max(most, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return most;
}

// "* Line 1, Column 2" and what is wrong there, as FileMaker reports a JSON fault.
std::string where(const std::string& text, std::size_t byte) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "* Line " + std::to_string(line) + ", Column " + std::to_string(column) + "\r  ";
}

Json parseJson(const std::string& text) {
    if (nesting(text) > kMaxJsonDepth)
        throw Fault{"the JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels"};
    try {
        return Json::parse(text);
    } catch (const Json::parse_error& e) {
        std::string what = e.what();
        const auto colon = what.find(": ");
        if (colon != std::string::npos) what.erase(0, colon + 2);  // nlohmann's own prefix
        throw Fault{where(text, e.byte > 0 ? e.byte - 1 : 0) + what};
    } catch (const Json::exception& e) {
        throw Fault{e.what()};
    }
}

// The document a set or delete starts from: empty text is an empty object
// (or array, when the path begins with an index).
Json documentOf(const fmx::Data& v, const std::vector<Step>& path) {
    const std::string text = value::utf8(v);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return !path.empty() && std::holds_alternative<long long>(path.front()) ? Json::array() : Json::object();
    return parseJson(text);
}

// A key written as a number on an array is its index.
const long long* indexOf(const Step& s, const Json& node, long long& scratch) {
    if (const auto* k = std::get_if<long long>(&s)) return k;
    const auto& key = std::get<std::string>(s);
    if (node.is_array() && !key.empty() && key.size() < 18 &&
        key.find_first_not_of("0123456789") == std::string::npos) {
        scratch = std::stoll(key);
        return &scratch;
    }
    return nullptr;
}

const Json* find(const Json& root, const std::vector<Step>& path) {
    const Json* node = &root;
    for (const auto& s : path) {
        long long scratch = 0;
        if (const long long* k = indexOf(s, *node, scratch)) {
            if (!node->is_array()) return nullptr;
            const long long at = *k == kLast ? static_cast<long long>(node->size()) - 1 : *k;
            if (at < 0 || at >= static_cast<long long>(node->size())) return nullptr;
            node = &(*node)[static_cast<std::size_t>(at)];
        } else {
            if (!node->is_object()) return nullptr;
            const auto it = node->find(std::get<std::string>(s));
            if (it == node->end()) return nullptr;
            node = &*it;
        }
    }
    return node;
}

// The place a path names, made as it goes (objects for keys, arrays for indexes).
Json& make(Json& root, const std::vector<Step>& path) {
    Json* node = &root;
    for (const auto& s : path) {
        long long scratch = 0;
        const long long* k = std::holds_alternative<long long>(s) ? std::get_if<long long>(&s) : nullptr;
        if (!k && node->is_array()) k = indexOf(s, *node, scratch);
        if (k) {
            if (!node->is_array()) *node = Json::array();
            long long at = *k == kAppend ? static_cast<long long>(node->size())
                           : *k == kLast ? std::max<long long>(0, static_cast<long long>(node->size()) - 1)
                                         : *k;
            if (at > static_cast<long long>(node->size()) + 1000000)
                throw Fault{"the index " + std::to_string(at) + " is too far past the end of the array"};
            while (static_cast<long long>(node->size()) <= at) node->push_back(nullptr);
            node = &(*node)[static_cast<std::size_t>(at)];
        } else {
            if (!node->is_object()) *node = Json::object();
            node = &(*node)[std::get<std::string>(s)];
        }
    }
    return *node;
}

std::string numberText(const fmx::Data& v) {
    std::string s = value::utf8(value::number(v.GetAsNumber()));
    if (s.empty()) return "0";
    if (s[0] == '.') s.insert(0, "0");
    if (s.rfind("-.", 0) == 0) s.insert(1, "0");
    return s;
}

Json valueOf(const fmx::Data& v, std::int64_t type) {
    const std::string text = value::utf8(v);
    switch (type) {
        case kString:
            return text;
        case kNumber:
            try {
                return Json::parse(numberText(v));
            } catch (const Json::exception&) {
                return 0;
            }
        case kObject:
        case kArray: {
            if (text.find_first_not_of(" \t\r\n") == std::string::npos)
                return type == kObject ? Json::object() : Json::array();
            Json j = parseJson(text);
            if (type == kObject && !j.is_object()) throw Fault{"the value is not a JSON object"};
            if (type == kArray && !j.is_array()) throw Fault{"the value is not a JSON array"};
            return j;
        }
        case kBoolean: {
            std::string lower;
            for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            if (lower == "true") return true;
            if (lower == "false") return false;
            return value::truth(v);
        }
        case kNull:
            return nullptr;
        case kRaw: {
            // The first JSON element of the text, whatever follows it ("4,2" is 4,
            // the comma separating elements); text that starts with none stays text.
            if (nesting(text) > kMaxJsonDepth) return text;
            std::istringstream in(text);
            Json j;
            try {
                in >> j;
            } catch (const Json::exception&) {
                return text;
            }
            return j;
        }
        default:
            throw Fault{
                "the type is one of JSONString, JSONNumber, JSONObject, JSONArray, JSONBoolean, JSONNull or JSONRaw"};
    }
}

// A value as a calculation sees it: numbers and booleans as numbers, text as
// text, objects and arrays as their JSON.
fmx::Data asData(const Json& j) {
    if (j.is_string()) return value::textUtf8(j.get<std::string>());
    if (j.is_boolean()) return value::number(std::int64_t{j.get<bool>() ? 1 : 0});
    if (j.is_number()) {
        fmx::Data d = value::numberFromDecimal(compactJson(j));
        return value::isEmpty(d) ? value::textUtf8(compactJson(j)) : d;
    }
    if (j.is_null()) return value::empty();
    return value::textUtf8(compactJson(j));
}

fmx::Data fault(const Fault& f) {
    return value::textUtf8("? " + f.message);
}

fmx::Data jsonSetElement(const BuiltinArgs& a) {
    try {
        struct Item {
            fmx::Data path, val;
            std::int64_t type;
        };
        std::vector<Item> items;
        if (!a.lists[1].empty()) {
            for (std::size_t i = 1; i < a.size(); ++i) {
                const auto& l = a.lists[i];
                if (l.size() != 3) throw Fault{"each \"[ … ]\" holds a key or path, a value and a type"};
                items.push_back({l[0], l[1], value::integer(l[2])});
            }
        } else {
            if (a.size() != 4) throw Fault{"write JSONSetElement ( json ; keyOrIndexOrPath ; value ; type )"};
            items.push_back({a[1], a[2], value::integer(a[3])});
        }
        std::vector<std::vector<Step>> paths;
        for (const auto& it : items) {
            paths.push_back(parsePath(value::utf8(it.path)));
            if (paths.back().size() > kMaxJsonDepth / 2)
                throw Fault{"the path is longer than " + std::to_string(kMaxJsonDepth / 2) + " steps"};
        }
        Json doc = documentOf(a[0], paths.front());
        for (std::size_t i = 0; i < items.size(); ++i) {
            Json v = valueOf(items[i].val, items[i].type);
            if (paths[i].empty())
                doc = std::move(v);
            else
                make(doc, paths[i]) = std::move(v);
        }
        return value::textUtf8(compactJson(doc));
    } catch (const Fault& f) {
        return fault(f);
    }
}

fmx::Data jsonGetElement(const BuiltinArgs& a) {
    try {
        const Json doc = parseJson(value::utf8(a[0]));
        const Json* j = find(doc, parsePath(value::utf8(a[1])));
        return j ? asData(*j) : value::empty();
    } catch (const Fault& f) {
        return fault(f);
    }
}

fmx::Data jsonDeleteElement(const BuiltinArgs& a) {
    try {
        Json doc = parseJson(value::utf8(a[0]));
        auto path = parsePath(value::utf8(a[1]));
        if (path.empty()) return value::textUtf8(compactJson(doc));
        const Step last = path.back();
        path.pop_back();
        Json* parent = const_cast<Json*>(find(doc, path));
        if (parent) {
            long long scratch = 0;
            if (const long long* k = indexOf(last, *parent, scratch)) {
                if (parent->is_array()) {
                    const long long at = *k == kLast ? static_cast<long long>(parent->size()) - 1 : *k;
                    if (at >= 0 && at < static_cast<long long>(parent->size()))
                        parent->erase(static_cast<std::size_t>(at));
                }
            } else if (parent->is_object()) {
                parent->erase(std::get<std::string>(last));
            }
        }
        return value::textUtf8(compactJson(doc));
    } catch (const Fault& f) {
        return fault(f);
    }
}

// The element a list function reads: the whole document for an empty path.
const Json* listed(const BuiltinArgs& a, Json& doc) {
    doc = parseJson(value::utf8(a[0]));
    return find(doc, parsePath(value::utf8(a[1])));
}

fmx::Data joined(const std::vector<std::string>& parts) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "\r" : "") + parts[i];
    return value::textUtf8(out);
}

fmx::Data jsonListKeys(const BuiltinArgs& a) {
    try {
        Json doc;
        const Json* j = listed(a, doc);
        std::vector<std::string> keys;
        if (j && j->is_object())
            for (auto it = j->begin(); it != j->end(); ++it) keys.push_back(it.key());
        else if (j && j->is_array())
            for (std::size_t i = 0; i < j->size(); ++i) keys.push_back(std::to_string(i));
        return joined(keys);
    } catch (const Fault& f) {
        return fault(f);
    }
}

fmx::Data jsonListValues(const BuiltinArgs& a) {
    try {
        Json doc;
        const Json* j = listed(a, doc);
        std::vector<std::string> values;
        if (j && (j->is_object() || j->is_array()))
            for (const auto& v : *j)  // a value as JSONGetElement answers it: true is 1
                values.push_back(v.is_string()    ? v.get<std::string>()
                                 : v.is_boolean() ? std::string(v.get<bool>() ? "1" : "0")
                                                  : compactJson(v));
        return joined(values);
    } catch (const Fault& f) {
        return fault(f);
    }
}

fmx::Data jsonFormatElements(const BuiltinArgs& a) {
    try {
        return value::textUtf8(readableJson(parseJson(value::utf8(a[0]))));
    } catch (const Fault& f) {
        return fault(f);
    }
}

template <int N>
fmx::Data typeConstant(const BuiltinArgs&) {
    return value::number(std::int64_t{N});
}

}  // namespace

void addJsonBuiltins(std::vector<Builtin>& t) {
    t.push_back(
        {"JSONSetElement", 2, -1, jsonSetElement,
         "JSONSetElement ( json ; keyOrIndexOrPath ; value ; type )  or  ( json ; [ path ; value ; type ] ; … )", 1});
    t.push_back({"JSONGetElement", 2, 2, jsonGetElement, "JSONGetElement ( json ; keyOrIndexOrPath )"});
    t.push_back({"JSONDeleteElement", 2, 2, jsonDeleteElement, "JSONDeleteElement ( json ; keyOrIndexOrPath )"});
    t.push_back({"JSONListKeys", 2, 2, jsonListKeys, "JSONListKeys ( json ; keyOrIndexOrPath )"});
    t.push_back({"JSONListValues", 2, 2, jsonListValues, "JSONListValues ( json ; keyOrIndexOrPath )"});
    t.push_back({"JSONFormatElements", 1, 1, jsonFormatElements, "JSONFormatElements ( json )"});
    t.push_back({"JSONRaw", 0, 0, typeConstant<kRaw>, "JSONRaw  (0: the value as JSON, or as text when it is not)"});
    t.push_back({"JSONString", 0, 0, typeConstant<kString>, "JSONString  (1)"});
    t.push_back({"JSONNumber", 0, 0, typeConstant<kNumber>, "JSONNumber  (2)"});
    t.push_back({"JSONObject", 0, 0, typeConstant<kObject>, "JSONObject  (3)"});
    t.push_back({"JSONArray", 0, 0, typeConstant<kArray>, "JSONArray  (4)"});
    t.push_back({"JSONBoolean", 0, 0, typeConstant<kBoolean>, "JSONBoolean  (5)"});
    t.push_back({"JSONNull", 0, 0, typeConstant<kNull>, "JSONNull  (6)"});
}

}  // namespace fm_host
