// CFBundle: bundle references and their strings tables.
#include "CFBundle.h"

#include "Unicode.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

struct __CFBundle {
    std::string path;
    std::atomic<int> refs{1};
    std::mutex lock;  // guards tables
    // "<lang>/<table>" -> parsed table (empty when missing or unparsable)
    std::map<std::string, std::map<std::u16string, NSString>> tables;
};

namespace {

bool isDirectory(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readFile(const std::string& p, std::string& out) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

}  // namespace

CFBundleRef CFBundleCreate(const std::string& bundlePath) {
    if (bundlePath.empty() || !isDirectory(bundlePath)) return nullptr;
    auto* b = new __CFBundle;
    b->path = bundlePath;
    while (b->path.size() > 1 && b->path.back() == '/') b->path.pop_back();
    return b;
}

CFBundleRef CFBundleRetain(CFBundleRef bundle) {
    if (bundle) bundle->refs.fetch_add(1, std::memory_order_relaxed);
    return bundle;
}

void CFRelease(CFBundleRef bundle) {
    if (bundle && bundle->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete bundle;
}

std::string CFBundleGetPath(CFBundleRef bundle) {
    return bundle ? bundle->path : std::string();
}

std::string CFBundleGetExecutablePath(CFBundleRef bundle) {
    if (!bundle) return {};
    return bundle->path + "/Contents/MacOS/" + std::filesystem::path(bundle->path).stem().string();
}

std::string CFBundleGetLocalization(CFBundleRef bundle) {
    const char* lang = std::getenv("QUILLMARK_LANG");
    if (bundle && lang && *lang && std::string(lang).find('/') == std::string::npos &&
        isDirectory(bundle->path + "/Contents/Resources/" + lang + ".lproj"))
        return lang;
    return "en";
}

namespace {

// One table of the bundle, read and parsed on first use. Caller holds b->lock.
const std::map<std::u16string, NSString>& tableFor(CFBundleRef b, const std::string& dir, const std::string& table) {
    const std::string cacheKey = dir + "/" + table;
    auto it = b->tables.find(cacheKey);
    if (it != b->tables.end()) return it->second;
    std::map<std::u16string, NSString> parsed;
    std::string bytes;
    const std::string file = b->path + "/Contents/Resources/" + (dir.empty() ? "" : dir + "/") + table + ".strings";
    if (readFile(file, bytes)) {
        std::vector<std::pair<NSString, NSString>> pairs;
        if (quill::strings::parseStringsTable(quill::strings::decodeStringsFile(bytes), pairs))
            for (auto& [k, v] : pairs) parsed[k.units()] = v;
    }
    return b->tables.emplace(cacheKey, std::move(parsed)).first->second;
}

}  // namespace

NSString CFBundleCopyLocalizedString(CFBundleRef bundle, const NSString& key, const NSStringOrNil& value,
                                     const NSString& tableName) {
    const NSString fallback = (value && value->length() > 0) ? *value : key;
    if (!bundle) return fallback;
    const std::string table = tableName.length() == 0 ? std::string("Localizable") : tableName.UTF8String();
    if (table.find('/') != std::string::npos) return fallback;
    const std::string lang = CFBundleGetLocalization(bundle);
    // The chosen language first, then English, then the bundle's unlocalized resources.
    std::vector<std::string> dirs{lang + ".lproj"};
    if (lang != "en") dirs.push_back("en.lproj");
    dirs.push_back("");
    std::lock_guard<std::mutex> guard(bundle->lock);
    for (const auto& dir : dirs) {
        const auto& t = tableFor(bundle, dir, table);
        if (auto it = t.find(key.units()); it != t.end()) return it->second;
    }
    return fallback;
}

// ---------------------------------------------------------------------------
// The strings-table format.

namespace quill::strings {

std::u16string decodeStringsFile(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
        const bool le = b0 == 0xFF && b1 == 0xFE, be = b0 == 0xFE && b1 == 0xFF;
        if (le || be) {
            std::u16string out;
            for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
                const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
                const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
                out.push_back(static_cast<char16_t>((hi << 8) | lo));
            }
            return out;
        }
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return quill::utf::utf8ToUtf16Lenient(bytes);
}

namespace {

class Parser {
public:
    explicit Parser(std::u16string_view t) : t_(t) {}

    bool parse(std::vector<std::pair<NSString, NSString>>& out) {
        for (;;) {
            if (!skipSpace()) return false;
            if (i_ >= t_.size()) return true;
            std::u16string key, value;
            if (!readString(key)) return false;
            if (!skipSpace()) return false;
            if (i_ < t_.size() && t_[i_] == u';') {  // "key"; alone: the value is the key
                ++i_;
                out.emplace_back(NSString(key), NSString(key));
                continue;
            }
            if (i_ >= t_.size() || t_[i_] != u'=') return false;
            ++i_;
            if (!skipSpace() || !readString(value) || !skipSpace()) return false;
            if (i_ >= t_.size() || t_[i_] != u';') return false;
            ++i_;
            out.emplace_back(NSString(std::move(key)), NSString(std::move(value)));
        }
    }

private:
    static bool isSpace(char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' || c == 0xFEFF ||
               c == 0x2028 || c == 0x2029;
    }
    static bool isBare(char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
               c == u'$' || c == u'/' || c == u':' || c == u'.' || c == u'-';
    }

    // Skips white space and comments; false on an unterminated comment.
    bool skipSpace() {
        while (i_ < t_.size()) {
            if (isSpace(t_[i_])) {
                ++i_;
            } else if (t_[i_] == u'/' && i_ + 1 < t_.size() && t_[i_ + 1] == u'*') {
                const auto end = t_.find(u"*/", i_ + 2);
                if (end == std::u16string_view::npos) return false;
                i_ = end + 2;
            } else if (t_[i_] == u'/' && i_ + 1 < t_.size() && t_[i_ + 1] == u'/') {
                while (i_ < t_.size() && t_[i_] != u'\n' && t_[i_] != u'\r') ++i_;
            } else {
                break;
            }
        }
        return true;
    }

    bool readString(std::u16string& out) {
        if (i_ >= t_.size()) return false;
        const char16_t q = t_[i_];
        if (q != u'"' && q != u'\'') {
            const std::size_t start = i_;
            while (i_ < t_.size() && isBare(t_[i_])) ++i_;
            if (i_ == start) return false;
            out.assign(t_.substr(start, i_ - start));
            return true;
        }
        ++i_;
        while (i_ < t_.size() && t_[i_] != q) {
            char16_t c = t_[i_++];
            if (c != u'\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= t_.size()) return false;
            c = t_[i_++];
            switch (c) {
                case u'n':
                    out.push_back(u'\n');
                    break;
                case u't':
                    out.push_back(u'\t');
                    break;
                case u'r':
                    out.push_back(u'\r');
                    break;
                case u'a':
                    out.push_back(u'\a');
                    break;
                case u'b':
                    out.push_back(u'\b');
                    break;
                case u'f':
                    out.push_back(u'\f');
                    break;
                case u'v':
                    out.push_back(u'\v');
                    break;
                case u'\n':
                    out.push_back(u'\n');
                    break;
                case u'U': {
                    int v = 0, n = 0;
                    for (int d; n < 4 && i_ < t_.size() && (d = quill::unicode::hexValue(t_[i_])) >= 0; ++i_, ++n)
                        v = v * 16 + d;
                    out.push_back(n ? static_cast<char16_t>(v) : u'U');
                    break;
                }
                default:
                    if (c >= u'0' && c <= u'7') {
                        // Up to three octal digits: one byte, read as Latin-1.
                        int v = c - u'0', n = 1;
                        while (n < 3 && i_ < t_.size() && t_[i_] >= u'0' && t_[i_] <= u'7')
                            v = v * 8 + (t_[i_++] - u'0'), ++n;
                        out.push_back(static_cast<char16_t>(v & 0xFF));
                    } else {
                        out.push_back(c);  // \\ \" \' and any other character stand for themselves
                    }
            }
        }
        if (i_ >= t_.size()) return false;  // unterminated
        ++i_;
        return true;
    }

    std::u16string_view t_;
    std::size_t i_ = 0;
};

}  // namespace

bool parseStringsTable(std::u16string_view text, std::vector<std::pair<NSString, NSString>>& out) {
    out.clear();
    Parser p(text);
    if (!p.parse(out)) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace quill::strings
