// The incremental writer: which objects changed since the open, and the bytes of one update.
#include "IncrementalWriter.h"

#include "Document.h"
#include "DocumentImpl.h"
#include "Error.h"
#include "SaveCheck.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/InputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFCryptoImpl.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

namespace quill::pdf {

using OffsetSet = std::unordered_set<qpdf_offset_t>;

struct IncrementalState {
    std::shared_ptr<const void> owner;  // keeps `bytes` alive
    const char* bytes = nullptr;
    std::size_t size = 0;
    std::string path;    // read again from here when bytes is null
    std::string reread;  // those bytes, once read
    FileStamp stamp;     // the file as read (or as this engine last wrote it)
    std::shared_ptr<OffsetSet> reads = std::make_shared<OffsetSet>();

    std::vector<std::string> updates;  // saved to the document's own file since the open
    bool signedWhenRead = false;       // the file held a signature or usage rights when it was read

    // Filled on first use.
    bool prepared = false;
    std::unique_ptr<QPDF> baseline;  // an untouched parse of the bytes read
    std::map<QPDFObjGen, QPDFXRefEntry> xref;
    int maxId = 0;            // highest object number of the file as read
    bool xrefStream = false;  // the file ends with a cross-reference stream
    bool hybrid = false;      // it ends with a table whose trailer names a stream too (/XRefStm)
    qpdf_offset_t lastXref = 0;
    long long trailerSize = 0;
    // What the updates saved to the document's own file wrote, by object ("" = freed).
    std::map<QPDFObjGen, std::string> committed;
    int committedMaxId = 0;
    // Hashes of baseline objects already looked at (the baseline never changes).
    std::map<QPDFObjGen, std::pair<std::size_t, std::size_t>> baselineHashes;
};

namespace {

// Forwards to the real source and notes every absolute seek: qpdf seeks to an object's offset
// before it parses the object, so the noted offsets name every object it has read.
class RecordingSource : public InputSource {
public:
    RecordingSource(std::shared_ptr<InputSource> inner, std::shared_ptr<OffsetSet> reads)
        : inner_(std::move(inner)), reads_(std::move(reads)) {}
    qpdf_offset_t findAndSkipNextEOL() override { return inner_->findAndSkipNextEOL(); }
    std::string const& getName() const override { return inner_->getName(); }
    qpdf_offset_t tell() override { return inner_->tell(); }
    // Every absolute seek counts, also those that only back up over what the parser looked
    // ahead at (which may name an object that was not read): a few extra objects compared is
    // cheaper than a read missed. (Reads from the parser's small buffer call no read() at all.)
    void seek(qpdf_offset_t offset, int whence) override {
        if (whence == SEEK_SET) reads_->insert(offset);
        inner_->seek(offset, whence);
    }
    void rewind() override { inner_->rewind(); }
    size_t read(char* buffer, size_t length) override {
        size_t n = inner_->read(buffer, length);
        last_offset = inner_->getLastOffset();
        return n;
    }
    void unreadCh(char ch) override { inner_->unreadCh(ch); }

private:
    std::shared_ptr<InputSource> inner_;
    std::shared_ptr<OffsetSet> reads_;
};

[[noreturn]] void cannotUpdate(const std::string& why) {
    throw Error(err::kUnableToWrite, "The document cannot be saved as an update of its file: " + why + ".");
}

IncrementalState& stateOf(Document& doc) {
    auto& st = DocumentAccess::impl(doc).incremental;
    if (!st) cannotUpdate("it was not read from a file");
    return *st;
}

// The bytes read at the open (read again from disk for files too large to keep).
std::string_view originalBytes(IncrementalState& st) {
    if (st.bytes) return {st.bytes, st.size};
    if (st.reread.size() != st.size) {
        std::FILE* f = std::fopen(st.path.c_str(), "rb");
        if (!f) cannotUpdate("its file can no longer be read");
        struct stat now {};
        if (::fstat(::fileno(f), &now) != 0 || !(stampOf(now) == st.stamp)) {
            std::fclose(f);
            cannotUpdate("its file changed on disk since it was opened");
        }
        std::string data(st.size, '\0');
        std::size_t got = std::fread(data.data(), 1, data.size(), f);
        std::fclose(f);
        if (got != st.size) cannotUpdate("its file changed since it was opened");
        st.reread = std::move(data);
    }
    return st.reread;
}

std::uint64_t currentSize(IncrementalState& st) {
    std::uint64_t n = st.size;
    for (auto& u : st.updates) n += u.size();
    return n;
}

// The offset after the last "startxref" of `bytes`, and whether a table or a stream is there.
void readTail(std::string_view bytes, qpdf_offset_t& offset, bool& stream) {
    const std::string_view key = "startxref";
    std::size_t from = bytes.size() > 4096 ? bytes.size() - 4096 : 0;
    std::size_t at = bytes.substr(from).rfind(key);
    if (at == std::string_view::npos) cannotUpdate("its file has no cross-reference position");
    at += from + key.size();
    while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    qpdf_offset_t value = 0;
    std::size_t digits = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && digits < 19) {
        value = value * 10 + (bytes[at++] - '0');
        ++digits;
    }
    if (digits == 0 || static_cast<std::size_t>(value) >= bytes.size())
        cannotUpdate("its cross-reference position is damaged");
    std::size_t p = static_cast<std::size_t>(value);
    while (p < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[p]))) ++p;
    offset = value;
    stream = bytes.substr(p, 4) != "xref";
}

void prepare(Document& doc, IncrementalState& st) {
    if (st.prepared) return;
    std::string_view bytes = originalBytes(st);
    readTail(bytes, st.lastXref, st.xrefStream);
    st.xref = doc.qpdf().getXRefTable();
    for (auto& [og, e] : st.xref) st.maxId = std::max(st.maxId, og.getObj());
    QPDFObjectHandle trailer = doc.qpdf().getTrailer();
    QPDFObjectHandle size = trailer.getKey("/Size");
    st.trailerSize = size.isInteger() ? size.getIntValue() : 0;
    st.trailerSize = std::max<long long>(st.trailerSize, st.maxId + 1);
    st.hybrid = !st.xrefStream && trailer.getKey("/XRefStm").isInteger();
    auto baseline = std::make_unique<QPDF>();
    baseline->setSuppressWarnings(true);
    baseline->setAttemptRecovery(false);
    auto* buffer = new Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), bytes.size());
    baseline->processInputSource(std::make_shared<BufferInputSource>("baseline", buffer, true));
    st.baseline = std::move(baseline);
    st.prepared = true;
}

// The fingerprint of a null object.
const std::string kNull = "Onull";

// Size and 64-bit hash: two versions of one object that collide on both are not a practical case.
std::pair<std::size_t, std::size_t> digest(const std::string& fp) {
    return {fp.size(), std::hash<std::string>()(fp)};
}

// ---- encryption of the written objects ----

struct Crypt {
    bool on = false;
    std::string key;
    int V = 0, R = 0;
    QPDF::encryption_method_e streams = QPDF::e_none, strings = QPDF::e_none;
    bool encryptMetadata = true;

    std::string apply(QPDF::encryption_method_e method, QPDFObjGen og, const std::string& plain) const {
        if (!on || method == QPDF::e_none) return plain;
        if (method == QPDF::e_unknown) cannotUpdate("its encryption method is not known");
        bool aes = method == QPDF::e_aes || method == QPDF::e_aesv3;
        std::string k = QPDF::compute_data_key(key, og.getObj(), og.getGen(), aes, V, R);
        auto impl = QPDFCryptoProvider::getImpl();
        if (!aes) {
            std::string out(plain.size(), '\0');
            impl->RC4_init(reinterpret_cast<const unsigned char*>(k.data()), static_cast<int>(k.size()));
            impl->RC4_process(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                              reinterpret_cast<unsigned char*>(out.data()));
            impl->RC4_finalize();
            return out;
        }
        constexpr std::size_t kBlock = QPDFCryptoImpl::rijndael_buf_size;
        unsigned char iv[kBlock];
        impl->provideRandomData(iv, kBlock);
        std::string out(reinterpret_cast<const char*>(iv), kBlock);
        unsigned char chain[kBlock];
        std::memcpy(chain, iv, kBlock);
        // PKCS#5 padding: always one to sixteen bytes.
        std::size_t pad = kBlock - plain.size() % kBlock;
        std::string padded = plain + std::string(pad, static_cast<char>(pad));
        impl->rijndael_init(true, reinterpret_cast<const unsigned char*>(k.data()), k.size(), true, chain);
        for (std::size_t i = 0; i < padded.size(); i += kBlock) {
            unsigned char in[kBlock], o[kBlock];
            std::memcpy(in, padded.data() + i, kBlock);
            impl->rijndael_process(in, o);
            out.append(reinterpret_cast<const char*>(o), kBlock);
        }
        impl->rijndael_finalize();
        return out;
    }
};

Crypt cryptOf(QPDF& q) {
    Crypt c;
    int P = 0;
    QPDF::encryption_method_e files = QPDF::e_none;
    if (!q.isEncrypted(c.R, P, c.V, c.streams, c.strings, files)) return c;
    c.on = true;
    c.key = q.getEncryptionKey();
    QPDFObjectHandle enc = q.getTrailer().getKey("/Encrypt");
    QPDFObjectHandle em = enc.isDictionary() ? enc.getKey("/EncryptMetadata") : QPDFObjectHandle::newNull();
    c.encryptMetadata = !(em.isBool() && !em.getBoolValue());
    if (c.V < 4) c.streams = c.strings = QPDF::e_rc4;
    return c;
}

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

// Serialises a direct part of object `og`; strings are encrypted with og's key when `crypt` is on.
// `top` is the object itself rather than a reference to it.
void put(std::string& out, QPDFObjectHandle o, const Crypt* crypt, QPDFObjGen og, bool top = false) {
    if (!top && o.isIndirect()) {
        out += ref(o.getObjGen());
        return;
    }
    switch (o.getTypeCode()) {
        case ::ot_null:
        case ::ot_uninitialized:
            out += "null";
            return;
        case ::ot_boolean:
        case ::ot_integer:
        case ::ot_real:
        case ::ot_name:
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
                put(out, item, crypt, og);
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
                out += QPDFObjectHandle::newName(key).unparse();
                out += ' ';
                put(out, value, crypt, og);
                out += ' ';
            }
            out += ">>";
            return;
        }
        default:
            cannotUpdate("an object of kind " + std::string(o.getTypeName()) + " cannot be written");
    }
}

// A comparable form of an object: its serialisation (references as references, so nothing else
// is read), and for a stream its raw data too.
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

// The whole indirect object `og` ("n g obj ... endobj").
void putObject(std::string& out, QPDFObjGen og, QPDFObjectHandle o, const Crypt& crypt) {
    out += std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj\n";
    if (o.isStream()) {
        QPDFObjectHandle dict = o.getDict();
        auto buffer = o.getRawStreamData();
        std::string data(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
        QPDFObjectHandle type = dict.getKey("/Type");
        bool plainMetadata = type.isNameAndEquals("/Metadata") && !crypt.encryptMetadata;
        if (!plainMetadata) data = crypt.apply(crypt.streams, og, data);
        QPDFObjectHandle copy = dict.shallowCopy();
        copy.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(data.size())));
        put(out, copy, &crypt, og);
        out += "\nstream\n";
        out += data;
        out += "\nendstream";
    } else {
        put(out, o, &crypt, og, true);
    }
    out += "\nendobj\n";
}

std::string md5(const std::string& data) {
    auto impl = QPDFCryptoProvider::getImpl();
    impl->MD5_init();
    impl->MD5_update(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    impl->MD5_finalize();
    unsigned char digest[16];
    impl->MD5_digest(digest);
    return std::string(reinterpret_cast<const char*>(digest), 16);
}

// Consecutive runs of object numbers, as the /Index of a stream or the subsections of a table.
std::vector<std::pair<int, int>> runs(const std::vector<int>& ids) {
    std::vector<std::pair<int, int>> out;
    for (int id : ids) {
        if (!out.empty() && out.back().first + out.back().second == id)
            ++out.back().second;
        else
            out.push_back({id, 1});
    }
    return out;
}

struct Entry {
    bool freed = false;
    std::uint64_t offset = 0;
    int gen = 0;
};

struct Written {
    std::map<QPDFObjGen, std::string> fingerprints;
    int maxId = 0;
};

}  // namespace

FileStamp stampOf(const struct stat& st) {
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::vector<char> ra(PATH_MAX + 1, '\0'), rb(PATH_MAX + 1, '\0');
    return ::realpath(a.c_str(), ra.data()) && ::realpath(b.c_str(), rb.data()) &&
           std::strcmp(ra.data(), rb.data()) == 0;
}

std::string nameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return "\"" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "\"";
}

}  // namespace

void checkFileUnchanged(Document& doc, const std::string& target) {
    auto& state = DocumentAccess::impl(doc).incremental;
    if (!state || state->path.empty()) return;
    IncrementalState& st = *state;
    // A file kept in memory is needed again only when the save replaces it; one read from disk
    // as qpdf goes is needed by every save.
    const bool readsFromDisk = !st.bytes && st.reread.size() != st.size;
    if (!readsFromDisk && !sameFile(target, st.path)) return;
    struct stat now {};
    if (::stat(st.path.c_str(), &now) != 0) {
        if (!readsFromDisk) return;  // gone: the save makes it anew
        throw Error(err::kUnableToWrite,
                    "The file " + nameOf(st.path) + " was not saved: it is no longer there to read from.");
    }
    if (stampOf(now) == st.stamp) return;
    throw Error(err::kUnableToWrite,
                "The file " + nameOf(st.path) +
                    " was not saved: it was changed on disk after it was opened (by another program); open it "
                    "again to work on what it holds now.");
}

void noteFileWritten(Document& doc, const std::string& target, const FileStamp& written) {
    auto& state = DocumentAccess::impl(doc).incremental;
    if (state && !state->path.empty() && sameFile(target, state->path)) state->stamp = written;
}

std::shared_ptr<IncrementalState> newIncrementalState(std::shared_ptr<const void> owner, const char* bytes,
                                                      std::size_t size, const std::string& path,
                                                      const FileStamp& stamp) {
    auto st = std::make_shared<IncrementalState>();
    st->stamp = stamp;
    st->owner = std::move(owner);
    st->bytes = bytes;
    st->size = size;
    st->path = path;
    return st;
}

std::shared_ptr<InputSource> recordReads(std::shared_ptr<InputSource> inner, std::shared_ptr<IncrementalState> state) {
    return std::make_shared<RecordingSource>(std::move(inner), state->reads);
}

bool canUpdateIncrementally(Document& doc) {
    return DocumentAccess::impl(doc).incremental != nullptr && !doc.wasRepaired();
}

void noteSignedWhenRead(Document& doc, bool isSigned) {
    if (auto& st = DocumentAccess::impl(doc).incremental) st->signedWhenRead = isSigned;
}

bool wasSignedWhenRead(Document& doc) {
    auto& st = DocumentAccess::impl(doc).incremental;
    return st && st->signedWhenRead;
}

bool wasUpdatedIncrementally(Document& doc) {
    auto& st = DocumentAccess::impl(doc).incremental;
    return st && !st->updates.empty();
}

IncrementalUpdate makeIncrementalUpdate(Document& doc) {
    if (doc.wasRepaired()) cannotUpdate("its file needed repair to be read");
    IncrementalState& st = stateOf(doc);
    prepare(doc, st);
    QPDF& q = doc.qpdf();
    const OffsetSet& reads = *st.reads;

    // Objects that may have changed: those read, and those an earlier update wrote.
    std::vector<QPDFObjGen> candidates;
    std::size_t readable = 0, read = 0;
    auto wasRead = [&](const QPDFXRefEntry& e) {
        if (e.getType() == 1) return reads.count(e.getOffset()) > 0;
        if (e.getType() == 2) {
            auto it = st.xref.find(QPDFObjGen(e.getObjStreamNumber(), 0));
            return it != st.xref.end() && it->second.getType() == 1 && reads.count(it->second.getOffset()) > 0;
        }
        return false;
    };
    for (auto& [og, e] : st.xref) {
        if (e.getType() == 0) continue;
        if (e.getType() == 2) {
            // An object of an object stream the table does not place can never be read.
            auto it = st.xref.find(QPDFObjGen(e.getObjStreamNumber(), 0));
            if (it == st.xref.end() || it->second.getType() != 1) continue;
        }
        ++readable;
        if (wasRead(e) || st.committed.count(og)) {
            ++read;
            candidates.push_back(og);
        }
    }
    for (auto& [og, fp] : st.committed)
        if (!st.xref.count(og)) candidates.push_back(og);
    // qpdf numbers a new object past every object it holds, and reads every object of the file
    // before it does; so new objects exist only when every object was read.
    // (From the file's last number on: qpdf does not know the numbers of the cross-reference
    // streams earlier updates wrote and may give one of them to a new object.)
    int lastKnown = std::max(st.maxId, st.committedMaxId);
    if (read == readable) {
        int count = static_cast<int>(q.getObjectCount());
        for (int id = st.maxId + 1; id <= count; ++id) candidates.push_back(QPDFObjGen(id, 0));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    Crypt crypt = cryptOf(q);
    std::string_view original = originalBytes(st);
    const std::uint64_t base = currentSize(st);
    char lastByte = st.updates.empty() ? (original.empty() ? '\n' : original.back()) : st.updates.back().back();

    IncrementalUpdate update;
    auto written = std::make_shared<Written>();
    std::string out;
    if (lastByte != '\n' && lastByte != '\r') out += '\n';
    std::map<int, Entry> entries;
    for (QPDFObjGen og : candidates) {
        QPDFObjectHandle now = q.getObject(og);
        std::string fp = fingerprint(now);
        auto c = st.committed.find(og);
        if (c != st.committed.end()) {
            if (fp == (c->second.empty() ? kNull : c->second)) continue;
        } else if (st.xref.count(og)) {
            auto h = st.baselineHashes.find(og);
            if (h == st.baselineHashes.end())
                h = st.baselineHashes.emplace(og, digest(fingerprint(st.baseline->getObject(og)))).first;
            if (digest(fp) == h->second) continue;
        } else if (fp == kNull) {
            continue;  // a new object is written unless it is null
        }
        if (now.isNull()) {
            entries[og.getObj()] = Entry{true, 0, og.getGen()};
            written->fingerprints[og] = "";
        } else {
            entries[og.getObj()] = Entry{false, base + out.size(), og.getGen()};
            putObject(out, og, now, crypt);
            written->fingerprints[og] = fp;
        }
        written->maxId = std::max(written->maxId, og.getObj());
    }
    update.objects = entries.size();
    if (entries.empty()) return update;

    QPDFObjectHandle trailer = q.getTrailer();
    const long long size = std::max<long long>({st.trailerSize, written->maxId + 1LL, lastKnown + 1LL});
    // A stream section (also the one a hybrid file carries) takes the next number for itself.
    const bool ownNumber = st.xrefStream || st.hybrid;
    if (size + (ownNumber ? 1 : 0) > kMaxObjectNumber + 1)
        cannotUpdate("its objects would be numbered past the limit of " + std::to_string(kMaxObjectNumber) +
                     " (its /Size is " + std::to_string(st.trailerSize) + ")");
    // The second identifier changes with every revision; the first stays (it keys the encryption).
    QPDFObjectHandle id = trailer.getKey("/ID");
    std::string id0 = id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString()
                          ? id.getArrayItem(0).getStringValue()
                          : "";
    std::string id1 = md5(std::to_string(base) + out);
    if (id0.empty()) id0 = id1;
    auto trailerEntries = [&](std::string& t, bool withPrev = true) {
        QPDFObjectHandle root = trailer.getKey("/Root");
        if (!root.isIndirect()) cannotUpdate("its catalog is not an indirect object");
        t += "/Root " + ref(root.getObjGen());
        QPDFObjectHandle info = trailer.getKey("/Info");
        if (info.isIndirect()) {
            t += " /Info " + ref(info.getObjGen());
        } else if (info.isDictionary()) {
            t += " /Info ";
            put(t, info, nullptr, QPDFObjGen());
        }
        QPDFObjectHandle enc = trailer.getKey("/Encrypt");
        if (enc.isIndirect()) {
            t += " /Encrypt " + ref(enc.getObjGen());
        } else if (enc.isDictionary()) {
            t += " /Encrypt ";
            put(t, enc, nullptr, QPDFObjGen());
        }
        t += " /ID [" + hex(id0) + " " + hex(id1) + "]";
        if (withPrev) t += " /Prev " + std::to_string(st.lastXref);
    };
    // A cross-reference stream object listing `entries` (which must list the stream itself).
    // (The table's trailer carries /Prev for a hybrid file's stream.)
    auto streamSection = [&](int self, std::uint64_t at, long long streamSize, bool withPrev) {
        int width = 1;
        while (width < 8 && (at >> (8 * width)) != 0) ++width;
        std::string data;
        std::vector<int> ids;
        for (auto& [n, e] : entries) {
            ids.push_back(n);
            std::uint64_t field2 = e.freed ? 0 : e.offset;
            int field3 = e.freed ? std::min(e.gen + 1, 65535) : e.gen;
            data += static_cast<char>(e.freed ? 0 : 1);
            for (int b = width - 1; b >= 0; --b) data += static_cast<char>((field2 >> (8 * b)) & 0xFF);
            data += static_cast<char>((field3 >> 8) & 0xFF);
            data += static_cast<char>(field3 & 0xFF);
        }
        std::string index;
        for (auto [first, count] : runs(ids)) index += std::to_string(first) + " " + std::to_string(count) + " ";
        std::string o = std::to_string(self) + " 0 obj\n<</Type /XRef /Size " + std::to_string(streamSize) + " /W [1 " +
                        std::to_string(width) + " 2] /Index [" + index + "] /Length " + std::to_string(data.size()) +
                        " ";
        trailerEntries(o, withPrev);
        return o + ">>\nstream\n" + data + "\nendstream\nendobj\n";
    };

    std::uint64_t xrefOffset = base + out.size();
    if (!st.xrefStream) {
        // A hybrid file keeps its form: a stream section for readers that take it, and the table,
        // listing every object of the update, for readers that take only the table.
        std::string hybridTail;
        if (st.hybrid) {
            const int self = static_cast<int>(size);
            entries[self] = Entry{false, xrefOffset, 0};
            out += streamSection(self, xrefOffset, size + 1, false);
            hybridTail = " /XRefStm " + std::to_string(xrefOffset);
            xrefOffset = base + out.size();
            written->maxId = std::max(written->maxId, self);
        }
        update.size = st.hybrid ? size + 1 : size;
        std::vector<int> ids;
        for (auto& [n, e] : entries) ids.push_back(n);
        out += "xref\n";
        for (auto [first, count] : runs(ids)) {
            out += std::to_string(first) + " " + std::to_string(count) + "\n";
            for (int n = first; n < first + count; ++n) {
                const Entry& e = entries[n];
                char line[40];
                if (e.freed)
                    std::snprintf(line, sizeof line, "%010d %05d f\r\n", 0, std::min(e.gen + 1, 65535));
                else
                    std::snprintf(line, sizeof line, "%010llu %05d n\r\n", static_cast<unsigned long long>(e.offset),
                                  e.gen);
                out += line;
            }
        }
        out += "trailer\n<</Size " + std::to_string(update.size) + " ";
        trailerEntries(out);
        out += hybridTail + ">>\n";
    } else {
        // The stream takes the next free number and lists itself.
        const int self = static_cast<int>(size);
        entries[self] = Entry{false, xrefOffset, 0};
        update.size = size + 1;
        out += streamSection(self, xrefOffset, update.size, true);
        written->maxId = std::max(written->maxId, self);
    }
    out += "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    update.bytes = std::move(out);
    update.xrefOffset = static_cast<std::int64_t>(xrefOffset);
    update.written = written;
    return update;
}

void writeBaseBytes(Document& doc, const std::function<void(const char*, std::size_t)>& sink) {
    IncrementalState& st = stateOf(doc);
    std::string_view original = originalBytes(st);
    sink(original.data(), original.size());
    for (auto& u : st.updates) sink(u.data(), u.size());
}

std::int64_t currentXref(Document& doc) {
    IncrementalState& st = stateOf(doc);
    prepare(doc, st);
    return st.lastXref;
}

void commitIncrementalUpdate(Document& doc, const IncrementalUpdate& update) {
    IncrementalState& st = stateOf(doc);
    if (update.bytes.empty()) return;
    auto* written = static_cast<Written*>(update.written.get());
    for (auto& [og, fp] : written->fingerprints) st.committed[og] = fp;
    st.committedMaxId = std::max(st.committedMaxId, written->maxId);
    st.trailerSize = std::max(st.trailerSize, update.size);
    st.lastXref = update.xrefOffset;
    st.updates.push_back(update.bytes);
}

std::string bytesWithUpdate(Document& doc, const IncrementalUpdate& update) {
    std::string all;
    writeBaseBytes(doc, [&](const char* p, std::size_t n) {
        if (all.empty()) all.reserve(n + update.bytes.size() + 64);
        all.append(p, n);
    });
    all += update.bytes;
    return all;
}

}  // namespace quill::pdf
