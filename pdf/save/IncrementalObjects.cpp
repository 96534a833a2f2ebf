// Writing objects as an incremental update holds them, and the fingerprints changes are found by.
#include "IncrementalState.h"

#include <charconv>
#include <cstring>

namespace quill::pdf {

const std::string kNull = "Onull";

std::string hex(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "<";
    for (unsigned char ch : s) {
        out += digits[ch >> 4];
        out += digits[ch & 15];
    }
    return out + ">";
}

std::string ref(QPDFObjGen og) {
    return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R";
}

namespace {

void appendInteger(std::string& out, long long v) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

// A name as written: as it stands when every byte is a plain regular character, as qpdf escapes
// it otherwise.
void appendName(std::string& out, const std::string& name) {
    bool plain = !name.empty() && name[0] == '/';
    for (std::size_t i = 1; plain && i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        plain = c > 32 && c < 127 && std::strchr("#()<>[]{}/%", c) == nullptr;
    }
    if (plain)
        out += name;
    else
        out += QPDFObjectHandle::newName(name).unparse();
}

}  // namespace

void put(std::string& out, QPDFObjectHandle o, const Crypt* crypt, QPDFObjGen og, bool top,
         std::vector<QPDFObjGen>* refs) {
    if (!top && o.isIndirect()) {
        const QPDFObjGen target = o.getObjGen();
        appendInteger(out, target.getObj());
        out += ' ';
        appendInteger(out, target.getGen());
        out += " R";
        if (refs) refs->push_back(target);
        return;
    }
    switch (o.getTypeCode()) {
        case ::ot_null:
        case ::ot_uninitialized:
            out += "null";
            return;
        case ::ot_integer:
            appendInteger(out, o.getIntValue());
            return;
        case ::ot_name:
            appendName(out, o.getName());
            return;
        case ::ot_boolean:
        case ::ot_real:
            // unparse() of an indirect object (here only at the top) names it: "7 0 R".
            out += o.unparseResolved();
            return;
        case ::ot_string:
            if (crypt && crypt->on)
                out += hex(crypt->apply(crypt->strings, og, o.getStringValue()));
            else
                out += o.unparseResolved();
            return;
        case ::ot_array: {
            out += '[';
            bool first = true;
            for (auto& item : o.getArrayAsVector()) {
                if (!first) out += ' ';
                first = false;
                put(out, item, crypt, og, false, refs);
            }
            out += ']';
            return;
        }
        case ::ot_dictionary: {
            out += "<<";
            // The map as stored: ditems() and getKeys() ask each value whether it is null, which
            // reads every object the dictionary refers to.
            for (auto& [key, value] : o.getDictAsMap()) {
                // A null entry is an absent one. (Only direct nulls: asking a reference whether it
                // is null would read the object it names.)
                if (value.isDirectNull()) continue;
                appendName(out, key);
                out += ' ';
                put(out, value, crypt, og, false, refs);
                out += ' ';
            }
            out += ">>";
            return;
        }
        default:
            cannotUpdate("an object of kind " + std::string(o.getTypeName()) + " cannot be written");
    }
}

std::string fingerprint(QPDFObjectHandle o) {
    try {
        std::string s;
        if (o.isStream()) {
            auto data = o.getRawStreamData();
            s = "S";
            put(s, o.getDict(), nullptr, QPDFObjGen(), true);
            s += '\0';
            s.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            return s;
        }
        s = "O";
        put(s, o, nullptr, QPDFObjGen(), true);
        return s;
    } catch (const std::exception&) {
        return "E";  // unreadable on both sides alike
    }
}

void putObject(std::string& out, QPDFObjGen og, QPDFObjectHandle o, const Crypt& crypt, std::vector<QPDFObjGen>* refs) {
    out += std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj\n";
    if (o.isStream()) {
        QPDFObjectHandle dict = o.getDict();
        auto buffer = o.getRawStreamData();
        const std::string_view raw(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
        std::string encrypted;
        if (crypt.on && crypt.streams != QPDF::e_none &&
            !(dict.getKey("/Type").isNameAndEquals("/Metadata") && !crypt.encryptMetadata))
            encrypted = crypt.apply(crypt.streams, og, std::string(raw));
        const std::string_view data = crypt.on ? std::string_view(encrypted.empty() ? raw : encrypted) : raw;
        // The dictionary as it stands but for its /Length (no copy of it is made for that).
        out += "<<";
        for (auto& [key, value] : dict.getDictAsMap()) {
            if (key == "/Length" || value.isDirectNull()) continue;
            appendName(out, key);
            out += ' ';
            put(out, value, &crypt, og, false, refs);
            out += ' ';
        }
        out += "/Length ";
        appendInteger(out, static_cast<long long>(data.size()));
        out += ">>\nstream\n";
        out += data;
        out += "\nendstream";
    } else {
        put(out, o, &crypt, og, true, refs);
    }
    out += "\nendobj\n";
}

}  // namespace quill::pdf
