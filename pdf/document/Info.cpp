// Document information over qpdf: the Info dictionary, and the XMP packet kept in step with it.
#include "quill/pdf/Info.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Signatures.h"

#include "Unicode.h"
#include "quill/pdf/Warnings.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <vector>

namespace quill::pdf {
namespace {

constexpr const char* kRdfNs = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

enum class XmpShape { Text, LangAlt, Seq };

// Info entries with an XMP twin: the property and the namespace (with its usual prefix) it lives in.
struct XmpTwin {
    const char* infoKey;
    const char* ns;
    const char* prefix;
    const char* local;
    XmpShape shape;
};
constexpr XmpTwin kXmpTwins[] = {
    {"Title", "http://purl.org/dc/elements/1.1/", "dc", "title", XmpShape::LangAlt},
    {"Author", "http://purl.org/dc/elements/1.1/", "dc", "creator", XmpShape::Seq},
    {"Subject", "http://purl.org/dc/elements/1.1/", "dc", "description", XmpShape::LangAlt},
    {"Keywords", "http://ns.adobe.com/pdf/1.3/", "pdf", "Keywords", XmpShape::Text},
    {"Creator", "http://ns.adobe.com/xap/1.0/", "xmp", "CreatorTool", XmpShape::Text},
    {"Producer", "http://ns.adobe.com/pdf/1.3/", "pdf", "Producer", XmpShape::Text},
};

// ---- a minimal XML scanner: enough to find elements and attributes without touching anything else ----

struct Attr {
    std::string name;
    std::size_t valueBegin, valueEnd;  // the value between its quotes
};

struct Tag {
    std::size_t begin, end;  // '<' .. one past '>'
    std::string name;
    bool closing = false, empty = false;
    std::vector<Attr> attrs;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits `x` into its element tags; comments, processing instructions, CDATA and declarations are
// stepped over. False when the markup is unterminated.
bool scan(const std::string& x, std::vector<Tag>& tags) {
    std::size_t i = 0;
    while ((i = x.find('<', i)) != std::string::npos) {
        auto skipTo = [&](const char* close) {
            std::size_t e = x.find(close, i);
            if (e == std::string::npos) return false;
            i = e + std::char_traits<char>::length(close);
            return true;
        };
        if (x.compare(i, 4, "<!--") == 0) {
            if (!skipTo("-->")) return false;
            continue;
        }
        if (x.compare(i, 9, "<![CDATA[") == 0) {
            if (!skipTo("]]>")) return false;
            continue;
        }
        if (x.compare(i, 2, "<?") == 0) {
            if (!skipTo("?>")) return false;
            continue;
        }
        if (x.compare(i, 2, "<!") == 0) {
            if (!skipTo(">")) return false;
            continue;
        }
        Tag t;
        t.begin = i;
        std::size_t p = i + 1;
        if (p < x.size() && x[p] == '/') {
            t.closing = true;
            ++p;
        }
        std::size_t n = p;
        while (n < x.size() && !isSpace(x[n]) && x[n] != '>' && x[n] != '/') ++n;
        t.name = x.substr(p, n - p);
        if (t.name.empty()) return false;
        p = n;
        for (;;) {
            while (p < x.size() && isSpace(x[p])) ++p;
            if (p >= x.size()) return false;
            if (x[p] == '>') break;
            if (x[p] == '/' && p + 1 < x.size() && x[p + 1] == '>') {
                t.empty = true;
                ++p;
                break;
            }
            if (t.closing) return false;
            std::size_t a = p;
            while (p < x.size() && !isSpace(x[p]) && x[p] != '=' && x[p] != '>') ++p;
            Attr attr;
            attr.name = x.substr(a, p - a);
            while (p < x.size() && isSpace(x[p])) ++p;
            if (p >= x.size() || x[p] != '=' || attr.name.empty()) return false;
            ++p;
            while (p < x.size() && isSpace(x[p])) ++p;
            if (p >= x.size() || (x[p] != '"' && x[p] != '\'')) return false;
            std::size_t close = x.find(x[p], p + 1);
            if (close == std::string::npos) return false;
            attr.valueBegin = p + 1;
            attr.valueEnd = close;
            t.attrs.push_back(attr);
            p = close + 1;
        }
        t.end = p + 1;
        tags.push_back(std::move(t));
        i = p + 1;
    }
    return true;
}

// The prefix the packet declares for namespace `uri`; nullopt when it declares none.
std::optional<std::string> prefixFor(const std::string& x, const std::vector<Tag>& tags, const std::string& uri) {
    for (const auto& t : tags)
        for (const auto& a : t.attrs)
            if (a.name.rfind("xmlns:", 0) == 0 && x.compare(a.valueBegin, a.valueEnd - a.valueBegin, uri) == 0)
                return a.name.substr(6);
    return std::nullopt;
}

// Index of the end tag that closes the start tag at `open`; npos when unbalanced.
std::size_t closingTag(const std::vector<Tag>& tags, std::size_t open) {
    int depth = 0;
    for (std::size_t k = open; k < tags.size(); ++k) {
        if (tags[k].name != tags[open].name || tags[k].empty) continue;
        depth += tags[k].closing ? -1 : 1;
        if (depth == 0) return k;
    }
    return std::string::npos;
}

const Attr* attrNamed(const Tag& t, const std::string& name) {
    for (const auto& a : t.attrs)
        if (a.name == name) return &a;
    return nullptr;
}

// Text for XML character data and attribute values; characters XML cannot hold are dropped.
std::string escaped(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
                out += c;
        }
    }
    return out;
}

std::string propertyBody(XmpShape shape, const std::string& rdf, const std::string& text) {
    switch (shape) {
        case XmpShape::LangAlt:
            return "<" + rdf + ":Alt><" + rdf + ":li xml:lang=\"x-default\">" + text + "</" + rdf + ":li></" + rdf +
                   ":Alt>";
        case XmpShape::Seq:
            return "<" + rdf + ":Seq><" + rdf + ":li>" + text + "</" + rdf + ":li></" + rdf + ":Seq>";
        case XmpShape::Text:
            break;
    }
    return text;
}

std::u16string withoutLanguageEscapes(std::u16string s) {
    // A UTF-16 text string may carry a language tag between two ESC (U+001B) characters.
    for (std::size_t at = s.find(u'\x1b'); at != std::u16string::npos; at = s.find(u'\x1b', at)) {
        std::size_t end = s.find(u'\x1b', at + 1);
        s.erase(at, end == std::u16string::npos ? std::u16string::npos : end + 1 - at);
    }
    return s;
}

std::string nameFor(const std::u16string& key) {
    if (key.empty()) throw Error(err::kBadParm, "The information key is empty.");
    if (key.find(u'\0') != std::u16string::npos) throw Error(err::kBadParm, "The information key is not valid.");
    return "/" + quill::unicode::utf16ToUtf8(key);
}

void syncXmp(Document& doc, const std::string& key, const std::string& utf8Value) {
    QPDFObjectHandle meta = doc.qpdf().getRoot().getKey("/Metadata");
    if (!meta.isStream()) return;
    std::string packet;
    try {
        auto data = meta.getStreamData(qpdf_dl_generalized);
        packet.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } catch (const std::exception& e) {
        doc.warn(Severity::kWarning, std::string("document info: XMP packet not readable, left as it is: ") + e.what());
        return;
    }
    auto edited = xmpWithInfo(packet, key, utf8Value);
    if (!edited) {
        doc.warn(Severity::kInfo, "document info: XMP packet left as it is for " + key);
        return;
    }
    // Stored uncompressed: the filters it had are dropped with the old data.
    meta.replaceStreamData(*edited, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
}

}  // namespace

std::optional<std::string> xmpWithInfo(const std::string& x, const std::string& key, const std::string& utf8Value) {
    const XmpTwin* twin = nullptr;
    for (const auto& t : kXmpTwins)
        if (key == t.infoKey) twin = &t;
    if (!twin) return std::nullopt;
    // Only UTF-8 packets are edited: a UTF-16 or UTF-32 one would be corrupted by byte edits.
    if (x.find('\0') != std::string::npos) return std::nullopt;
    std::vector<Tag> tags;
    if (!scan(x, tags)) return std::nullopt;
    auto rdf = prefixFor(x, tags, kRdfNs);
    if (!rdf) return std::nullopt;
    std::size_t rdfOpen = std::string::npos;
    for (std::size_t k = 0; k < tags.size() && rdfOpen == std::string::npos; ++k)
        if (!tags[k].closing && !tags[k].empty && tags[k].name == *rdf + ":RDF") rdfOpen = k;
    if (rdfOpen == std::string::npos) return std::nullopt;
    std::size_t rdfClose = closingTag(tags, rdfOpen);
    if (rdfClose == std::string::npos) return std::nullopt;

    const std::string text = escaped(utf8Value);
    std::string out = x;
    auto replace = [&](std::size_t begin, std::size_t end, const std::string& with) {
        out = x.substr(0, begin) + with + x.substr(end);
    };
    auto prefix = prefixFor(x, tags, twin->ns);
    bool done = false;
    if (prefix) {
        const std::string qname = *prefix + ":" + twin->local;
        for (std::size_t k = rdfOpen; k < rdfClose && !done; ++k) {
            const Tag& t = tags[k];
            if (t.closing) continue;
            if (t.name == qname) {  // element form
                if (t.empty) {
                    replace(t.begin, t.end,
                            "<" + qname + ">" + propertyBody(twin->shape, *rdf, text) + "</" + qname + ">");
                    done = true;
                    break;
                }
                std::size_t close = closingTag(tags, k);
                if (close == std::string::npos) return std::nullopt;
                if (twin->shape == XmpShape::LangAlt) {
                    // Keep the other languages: change the default item (or the first one).
                    std::size_t li = std::string::npos;
                    for (std::size_t j = k + 1; j < close; ++j) {
                        if (tags[j].closing || tags[j].name != *rdf + ":li") continue;
                        const Attr* lang = attrNamed(tags[j], "xml:lang");
                        bool isDefault =
                            lang && x.compare(lang->valueBegin, lang->valueEnd - lang->valueBegin, "x-default") == 0;
                        if (li == std::string::npos || isDefault) li = j;
                        if (isDefault) break;
                    }
                    if (li != std::string::npos && !tags[li].empty) {
                        std::size_t liClose = closingTag(tags, li);
                        if (liClose == std::string::npos || liClose > close) return std::nullopt;
                        replace(tags[li].end, tags[liClose].begin, text);
                        done = true;
                        break;
                    }
                }
                replace(t.end, tags[close].begin, propertyBody(twin->shape, *rdf, text));
                done = true;
            } else if (t.name == *rdf + ":Description") {  // attribute form
                if (const Attr* a = attrNamed(t, qname)) {
                    replace(a->valueBegin, a->valueEnd, text);
                    done = true;
                }
            }
        }
    }
    if (!done) {
        // A description of its own, declaring the namespace it needs, just before </rdf:RDF>.
        std::string about;
        for (std::size_t k = rdfOpen; k < rdfClose; ++k) {
            if (tags[k].closing || tags[k].name != *rdf + ":Description") continue;
            if (const Attr* a = attrNamed(tags[k], *rdf + ":about"))
                about = x.substr(a->valueBegin, a->valueEnd - a->valueBegin);
            break;
        }
        const std::string p = twin->prefix;
        const std::string q = p + ":" + twin->local;
        std::string add = "<" + *rdf + ":Description " + *rdf + ":about=\"" + about + "\" xmlns:" + p + "=\"" +
                          twin->ns + "\"><" + q + ">" + propertyBody(twin->shape, *rdf, text) + "</" + q + "></" +
                          *rdf + ":Description>";
        replace(tags[rdfClose].begin, tags[rdfClose].begin, add);
    }
    std::vector<Tag> check;
    if (!scan(out, check)) return std::nullopt;
    return out;
}

std::u16string getInfo(Document& doc, const std::u16string& key) {
    const std::string name = nameFor(key);
    QPDFObjectHandle info = doc.qpdf().getTrailer().getKey("/Info");
    if (!info.isDictionary()) return {};
    QPDFObjectHandle value = info.getKey(name);
    if (!value.isString()) return {};
    return withoutLanguageEscapes(quill::unicode::utf8ToUtf16(value.getUTF8Value()));
}

void setInfo(Document& doc, const std::u16string& key, const std::u16string& value) {
    const std::string name = nameFor(key);
    QPDF& qpdf = doc.qpdf();
    checkDocumentChange(qpdf);
    QPDFObjectHandle trailer = qpdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
        info = qpdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        trailer.replaceKey("/Info", info);
    }
    const std::string utf8 = quill::unicode::utf16ToUtf8(value);
    info.replaceKey(name, QPDFObjectHandle::newUnicodeString(utf8));
    syncXmp(doc, name.substr(1), utf8);
    doc.markChanged();
}

}  // namespace quill::pdf
