// Reading a saved file back before it is put in place (see SaveCheck.h).
#include "SaveCheck.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "FieldTree.h"
#include "RawObject.h"
#include "Holders.h"
#include "quill/pdf/Forms.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/FileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <filesystem>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace quill::pdf {

namespace {

std::function<void(int)>& beforeReadBack() {
    static std::function<void(int)> hook;
    return hook;
}

// New files up to this size are read back from memory.
constexpr std::uintmax_t kReadBackInMemory = 256u * 1024 * 1024;

// Field trees deeper than this are not believed (a loop the visited set did not catch).
constexpr int kMaxDepth = 64;

std::string baseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// A name as its bytes: a name made in memory may keep its #xx escapes where the same name read
// from a file has them decoded.
std::string nameBytes(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '#' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            out += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

// A value as comparable text; empty for what a save cannot be asked to keep alike (streams).
std::string valueText(QPDFObjectHandle v, int depth = 0) {
    if (depth > kMaxDepth) return {};
    if (v.isString()) return "(" + v.getStringValue() + ")";
    if (v.isName()) return nameBytes(v.getName());
    if (v.isBool() || v.isInteger() || v.isReal()) return v.unparse();
    if (v.isArray()) {
        std::string out = "[";
        for (auto& item : v.aitems()) out += valueText(item, depth + 1) + " ";
        return out + "]";
    }
    return {};
}

// Full name (raw /T bytes joined with ".") -> own /V of every field node that has one.
std::map<std::string, std::string> fieldsOf(QPDF& q) {
    std::map<std::string, std::string> out;
    walkFieldTree(q, std::string(), [&](QPDFObjectHandle node, const std::string& parent) {
        std::string name = parent;
        QPDFObjectHandle t = node.getKey("/T");
        if (t.isString()) name = parent.empty() ? t.getStringValue() : parent + "." + t.getStringValue();
        std::string v = valueText(node.getKey("/V"));
        if (!v.empty()) out[name] = v;
        return name;
    });
    return out;
}

// The leaves of a page tree, each node read once (a node met again, or a tree deeper than the
// limit, counts as -1: such a tree is no valid tree). Cheaper than qpdf's page list, which also
// looks into every page's inherited attributes.
long long countPages(QPDFObjectHandle node, std::set<QPDFObjGen>& seen, int depth) {
    if (!node.isDictionary() || depth > kMaxDepth) return -1;
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second) return -1;
    QPDFObjectHandle kids = node.getKey("/Kids");
    if (!kids.isArray()) return 1;
    long long n = 0;
    for (auto& kid : kids.aitems()) {
        const long long k = countPages(kid, seen, depth + 1);
        if (k < 0) return -1;
        n += k;
    }
    return n;
}

std::map<std::string, std::string> infoOf(QPDF& q) {
    std::map<std::string, std::string> out;
    QPDFObjectHandle info = q.getTrailer().getKey("/Info");
    if (!info.isDictionary()) return out;
    for (auto& [key, value] : info.ditems())
        if (value.isString()) out[key] = value.getStringValue();
    return out;
}

bool sameBytes(int fd, std::uint64_t& at, const char* p, std::size_t n) {
    std::vector<char> buf(std::min<std::size_t>(n, 1 << 20));
    while (n > 0) {
        const std::size_t want = std::min(n, buf.size());
        const ssize_t got = ::pread(fd, buf.data(), want, static_cast<off_t>(at));
        if (got <= 0) return false;
        if (std::memcmp(buf.data(), p, static_cast<std::size_t>(got)) != 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

// zlib's CRC-32 over any length (its own call takes an unsigned int).
unsigned long crcOf(unsigned long crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const Bytef*>(data);
    while (size > 0) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = ::crc32(crc, p, n);
        p += n;
        size -= n;
    }
    return crc;
}

}  // namespace

void setBeforeReadBackHookForTesting(std::function<void(int)> hook) {
    beforeReadBack() = std::move(hook);
}

SaveCheck::SaveCheck(Document& doc) : doc_(doc) {
    QPDF& q = doc.qpdfForWriting();
    pages_ = doc.numPages();
    encrypted_ = q.isEncrypted();
    info_ = infoOf(q);
}

void SaveCheck::written(const void* data, std::size_t size) {
    // qpdf writes a few bytes at a time: the CRC is taken over gathered runs, not call by call.
    constexpr std::size_t kRun = 16 * 1024;
    writtenSize_ += size;
    if (pending_.size() + size > kRun) {
        writtenCrc_ = crcOf(writtenCrc_, pending_.data(), pending_.size());
        pending_.clear();
        if (size > kRun) {
            writtenCrc_ = crcOf(writtenCrc_, data, size);
            return;
        }
    }
    pending_.append(static_cast<const char*>(data), size);
}

void SaveCheck::expectUpdate(std::uint64_t baseSize, std::int64_t prevXref, long long size,
                             std::function<void(const std::function<void(const char*, std::size_t)>&)> baseBytes) {
    update_ = true;
    fields_ = fieldsOf(doc_.qpdf());
    baseSize_ = baseSize;
    prevXref_ = prevXref;
    size_ = size;
    baseBytes_ = std::move(baseBytes);
}

void SaveCheck::verify(int fd, const std::string& target) {
    auto fail = [&](const std::string& why) {
        throw Error(err::kUnableToWrite, "The file \"" + baseName(target) +
                                             "\" was not saved: the new file did not read back as written (" + why +
                                             "); the file is as it was.");
    };
    if (!pending_.empty()) {
        writtenCrc_ = crcOf(writtenCrc_, pending_.data(), pending_.size());
        pending_.clear();
    }
    if (auto& hook = beforeReadBack()) hook(fd);
    // The new file is read into memory (it is in the page cache, just written): qpdf then parses
    // from a buffer instead of seeking the file for every object. Very large files are read
    // through the descriptor as qpdf goes.
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("it could not be examined");
    if (static_cast<std::uint64_t>(st.st_size) != writtenSize_) fail("its length differs from what was written");
    std::shared_ptr<InputSource> source;
    std::string_view inMemory;  // the bytes read back, when they are held (checked against the CRC)
    if (static_cast<std::uintmax_t>(st.st_size) <= kReadBackInMemory) {
        auto* buffer = new Buffer(static_cast<std::size_t>(st.st_size));
        std::size_t at = 0;
        while (at < buffer->getSize()) {
            const ssize_t n = ::pread(fd, buffer->getBuffer() + at, buffer->getSize() - at, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        const bool whole = at == buffer->getSize();
        const bool same = whole && crcOf(0, buffer->getBuffer(), at) == writtenCrc_;
        if (!same) delete buffer;
        if (!whole) fail("it could not be read");
        if (!same) fail("its bytes differ from what was written");
        source = std::make_shared<BufferInputSource>(target, buffer, true);
        inMemory = std::string_view(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
    } else {
        // Read twice, once here and once by qpdf as it goes: still cheaper than holding the file.
        std::vector<unsigned char> chunk(1 << 20);
        unsigned long crc = 0;
        std::uint64_t at = 0;
        for (;;) {
            const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fail("it could not be read");
            if (n == 0) break;
            crc = crcOf(crc, chunk.data(), static_cast<std::size_t>(n));
            at += static_cast<std::uint64_t>(n);
        }
        if (at != static_cast<std::uint64_t>(st.st_size)) fail("it could not be read");
        if (crc != writtenCrc_) fail("its bytes differ from what was written");
        FileDescriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        std::FILE* f = copy ? ::fdopen(copy.get(), "rb") : nullptr;
        if (!f) fail("it could not be opened");
        copy.release();  // the FILE closes it now
        auto file = std::make_shared<FileInputSource>();
        file->setFile(target.c_str(), f, true);
        source = file;
    }
    QPDF q;
    q.setSuppressWarnings(true);
    q.setAttemptRecovery(false);
    try {
        // The same (empty) password the document was opened with.
        q.processInputSource(source, "");
        QPDFObjectHandle trailer = q.getTrailer();
        QPDFObjectHandle root = q.getRoot();
        if (!root.isDictionary() || !root.getKey("/Pages").isDictionary()) fail("it has no page tree");
        QPDFObjectHandle size = trailer.getKey("/Size");
        if (!size.isInteger() || size.getIntValue() < 1 || size.getIntValue() > kMaxObjectNumber + 1)
            fail("its /Size is missing or out of range");
        if (q.isEncrypted() != encrypted_) fail(encrypted_ ? "it lost its encryption" : "it became encrypted");
        if (update_ && size_ > 0) {
            QPDFObjectHandle prev = trailer.getKey("/Prev");
            if (!prev.isInteger() || prev.getIntValue() != prevXref_) fail("its update does not follow the file");
            if (size.getIntValue() != size_) fail("its update has another /Size than written");
        }
        // Every object the cross-reference data places starts where it says: the structure a
        // reader needs is sound without parsing every object (which would cost more than the
        // save). The objects a save changes are parsed below: the trailer's, the page tree's
        // root, the information and the fields, and every object an update appends.
        std::map<QPDFObjGen, QPDFXRefEntry> xref = q.getXRefTable();
        for (const auto& [og, entry] : xref) {
            // An update answers for its own objects only; the file's earlier bytes are compared below.
            if (entry.getType() != 1 || (update_ && static_cast<std::uint64_t>(entry.getOffset()) < baseSize_))
                continue;
            const std::string head = std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj";
            char got[48] = {};
            std::string_view at;
            if (!inMemory.empty()) {
                // The bytes just read back and found to be the ones written: no read per object.
                const auto offset = static_cast<std::uint64_t>(entry.getOffset());
                if (entry.getOffset() >= 0 && offset < inMemory.size()) at = inMemory.substr(offset, sizeof got - 1);
            } else {
                const ssize_t n = ::pread(fd, got, sizeof got - 1, static_cast<off_t>(entry.getOffset()));
                at = std::string_view(got, n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            while (!at.empty() && std::isspace(static_cast<unsigned char>(at.front()))) at.remove_prefix(1);
            if (at.substr(0, head.size()) != head)
                fail("object " + std::to_string(og.getObj()) + " is not where listed");
            if (update_) (void)q.getObject(og).unparseResolved();  // parses it, and throws if it cannot
        }
        // The objects a full save wrote itself are read as a reader's tokenizer reads them; the
        // rest of its objects are the file's own bytes, or qpdf's writing.
        for (QPDFObjGen og : parsed_) {
            auto it = xref.find(og);
            if (it == xref.end() || it->second.getType() != 1)
                fail("object " + std::to_string(og.getObj()) + " is not listed");
            const bool whole = inMemory.empty()
                                   ? (q.getObject(og).unparseResolved(), true)
                                   : isWholeObject(inMemory, static_cast<std::size_t>(it->second.getOffset()), og);
            if (!whole) fail("object " + std::to_string(og.getObj()) + " is damaged");
        }
        // The page count the tree's root states; when it differs, the trees themselves decide.
        QPDFObjectHandle count = root.getKey("/Pages").getKey("/Count");
        long long pages = count.isInteger() ? count.getIntValue() : -1;
        long long expected = pages_;
        if (pages != expected) {
            std::set<QPDFObjGen> seenPages;
            pages = countPages(root.getKey("/Pages"), seenPages, 0);
            expected = static_cast<long long>(doc_.qpdf().getAllPages().size());
        }
        if (pages != expected)
            fail("it has " + std::to_string(pages) + " pages instead of " + std::to_string(expected));
        auto info = infoOf(q);
        for (const auto& [key, value] : info_) {
            auto it = info.find(key);
            if (it == info.end() || it->second != value) fail("its document information " + key + " differs");
        }
        if (update_) {
            auto fields = fieldsOf(q);
            for (const auto& [name, value] : fields_) {
                auto it = fields.find(name);
                if (it == fields.end() || it->second != value)
                    fail("the value of the field \"" + utf16ToUtf8(pdfTextToUtf16(name)) + "\" differs");
            }
            // Every earlier signature covers bytes of the base only, and the base is unchanged.
            walkFieldTree(q, 0, [&](QPDFObjectHandle node, int) {
                QPDFObjectHandle v = node.getKey("/V");
                QPDFObjectHandle range = v.isDictionary() ? v.getKey("/ByteRange") : QPDFObjectHandle::newNull();
                if (range.isArray() && range.getArrayNItems() == 4) {
                    long long end = 0;
                    for (int i = 0; i < 4; i += 2) {
                        QPDFObjectHandle a = range.getArrayItem(i), n = range.getArrayItem(i + 1);
                        if (a.isInteger() && n.isInteger()) end = std::max(end, a.getIntValue() + n.getIntValue());
                    }
                    if (static_cast<std::uint64_t>(end) > baseSize_) fail("a signature reaches into the update");
                }
                return 0;
            });
            std::uint64_t at = 0;
            bool same = true;
            baseBytes_([&](const char* p, std::size_t n) { same = same && sameBytes(fd, at, p, n); });
            if (!same || at != baseSize_) fail("the bytes before the update changed");
        }
    } catch (const Error&) {
        throw;
    } catch (const QPDFExc& e) {
        fail(std::string("qpdf: ") + e.what());
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

}  // namespace quill::pdf
