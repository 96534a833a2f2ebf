// Change tracking for incremental updates: the bytes a document was read from, which objects qpdf
// read from them, the file on disk as it stood, and whether the file was signed when read.
#include "quill/pdf/Document.h"
#include "DocumentImpl.h"
#include "quill/pdf/Error.h"
#include "Holders.h"
#include "IncrementalState.h"
#include "quill/pdf/Signatures.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/InputSource.hh>

#include <filesystem>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quill::pdf {

void ReadLog::compact() {
    std::sort(log_.begin(), log_.end());
    log_.erase(std::unique(log_.begin(), log_.end()), log_.end());
    sorted_ = log_.size();
    limit_ = std::max(limit_, 2 * log_.size());
}

bool ReadLog::contains(qpdf_offset_t at) {
    if (sorted_ != log_.size()) compact();
    return std::binary_search(log_.begin(), log_.end(), at);
}

namespace {

// Forwards to the real source and notes every absolute seek: qpdf seeks to an object's offset
// before it parses the object, so the noted offsets name every object it has read.
class RecordingSource : public InputSource {
public:
    RecordingSource(std::shared_ptr<InputSource> inner, std::shared_ptr<ReadLog> reads)
        : inner_(std::move(inner)), reads_(std::move(reads)) {}
    qpdf_offset_t findAndSkipNextEOL() override { return inner_->findAndSkipNextEOL(); }
    std::string const& getName() const override { return inner_->getName(); }
    qpdf_offset_t tell() override { return inner_->tell(); }
    // Every absolute seek counts, also those that only back up over what the parser looked
    // ahead at (which may name an object that was not read): a few extra objects compared is
    // cheaper than a read missed. (Reads from the parser's small buffer call no read() at all.)
    void seek(qpdf_offset_t offset, int whence) override {
        if (whence == SEEK_SET) reads_->note(offset);
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
    std::shared_ptr<ReadLog> reads_;
};

bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    // One path resolves to one file: two files (or one missing) answer at once, without
    // resolving every folder on the way twice (a save asks before and after it writes).
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    if (sa.st_dev != sb.st_dev || sa.st_ino != sb.st_ino) return false;
    std::vector<char> ra(PATH_MAX + 1, '\0'), rb(PATH_MAX + 1, '\0');
    return ::realpath(a.c_str(), ra.data()) && ::realpath(b.c_str(), rb.data()) &&
           std::strcmp(ra.data(), rb.data()) == 0;
}

std::string nameOf(const std::string& path) {
    return "\"" + std::filesystem::path(path).filename().string() + "\"";
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

QPDF& baselineOf(IncrementalState& st) {
    if (st.baseline) return *st.baseline;
    std::string_view bytes = originalBytes(st);
    auto baseline = std::make_unique<QPDF>();
    baseline->setSuppressWarnings(true);
    baseline->setAttemptRecovery(false);
    auto* buffer = new Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), bytes.size());
    baseline->processInputSource(std::make_shared<BufferInputSource>("baseline", buffer, true));
    st.baseline = std::move(baseline);
    return *st.baseline;
}

// Which of `needles` the file's bytes as read hold, as bits (needle i: bit i). A file read from
// disk is read again in pieces, so any size is searched; one that changed since counts as holding
// all of them (the save that asks then finds the change itself).
unsigned bytesHold(IncrementalState& st, const std::vector<std::string_view>& needles) {
    unsigned found = 0;
    auto search = [&](const char* begin, const char* end) {
        for (std::size_t i = 0; i < needles.size(); ++i) {
            if (found & (1u << i)) continue;
            // glibc's memmem scans many bytes a step; a whole large file is searched at the save.
            const auto& n = needles[i];
            if (::memmem(begin, static_cast<std::size_t>(end - begin), n.data(), n.size()) != nullptr) found |= 1u << i;
        }
    };
    if (st.bytes || st.reread.size() == st.size) {
        std::string_view all = st.bytes ? std::string_view(st.bytes, st.size) : std::string_view(st.reread);
        search(all.data(), all.data() + all.size());
        return found;
    }
    const unsigned every = (1u << needles.size()) - 1;
    const FileDescriptor file(::open(st.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return every;
    const int fd = file.get();
    struct stat now {};
    if (::fstat(fd, &now) != 0 || !(stampOf(now) == st.stamp)) return every;
    std::size_t longest = 0;
    for (const auto& n : needles) longest = std::max(longest, n.size());
    std::vector<char> chunk(4u << 20);
    std::size_t kept = 0;  // the tail of the previous piece, where a match may begin
    off_t at = 0;
    while (found != every) {
        ssize_t n = ::pread(fd, chunk.data() + kept, chunk.size() - kept, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += n;
        const char* end = chunk.data() + kept + static_cast<std::size_t>(n);
        search(chunk.data(), end);
        kept = std::min<std::size_t>(longest - 1, kept + static_cast<std::size_t>(n));
        std::memmove(chunk.data(), end - kept, kept);
    }
    return found;
}

}  // namespace

[[noreturn]] void cannotUpdate(const std::string& why) {
    throw Error(err::kUnableToWrite, "The document cannot be saved as an update of its file: " + why + ".");
}

IncrementalState& stateOf(Document& doc) {
    auto& st = DocumentAccess::impl(doc).incremental;
    if (!st) cannotUpdate("it was not read from a file");
    return *st;
}

std::string_view originalBytes(IncrementalState& st) {
    if (st.bytes) return {st.bytes, st.size};
    if (st.reread.size() != st.size) {
        FileHolder f(std::fopen(st.path.c_str(), "rb"));
        if (!f) cannotUpdate("its file can no longer be read");
        struct stat now {};
        if (::fstat(::fileno(f.get()), &now) != 0 || !(stampOf(now) == st.stamp))
            cannotUpdate("its file changed on disk since it was opened");
        std::string data(st.size, '\0');
        std::size_t got = std::fread(data.data(), 1, data.size(), f.get());
        f.reset();
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
    baselineOf(st);
    st.prepared = true;
}

FileStamp stampOf(const struct stat& st) {
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return s;
}

namespace {

bool onlyChangeTimeDiffers(FileStamp a, const FileStamp& b) {
    a.ctimeNs = b.ctimeNs;
    return a == b;
}

// Whether the file at st.path holds exactly the bytes of the file as read and the updates saved
// to it since, all of which are in memory.
bool holdsBytesAtHand(IncrementalState& st) {
    const FileDescriptor file(::open(st.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return false;
    const int fd = file.get();
    struct stat now {};
    bool same = ::fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) == currentSize(st);
    std::vector<std::string_view> parts{originalBytes(st)};
    for (const auto& u : st.updates) parts.emplace_back(u);
    std::vector<char> chunk(1u << 20);
    for (std::string_view part : parts) {
        while (same && !part.empty()) {
            const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), part.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || std::memcmp(chunk.data(), part.data(), static_cast<std::size_t>(n)) != 0) same = false;
            if (same) part.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    return same;
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
    if (!readsFromDisk && onlyChangeTimeDiffers(stampOf(now), st.stamp) && holdsBytesAtHand(st)) {
        // A new change time alone is also what a chmod, chown or new link leaves: the file is
        // compared with the bytes at hand, and one that holds them still is the file as read.
        st.stamp.ctimeNs = stampOf(now).ctimeNs;
        return;
    }
    throw Error(err::kUnableToWrite,
                "The file " + nameOf(st.path) +
                    " was not saved: it was changed on disk after it was opened (by another program); open it "
                    "again to work on what it holds now.");
}

void noteFileWritten(Document& doc, const std::string& target, const FileStamp& written) {
    auto& state = DocumentAccess::impl(doc).incremental;
    if (!state || state->path.empty() || !sameFile(target, state->path)) return;
    state->stamp = written;
    // `written` was taken before the file was renamed into place, and a rename sets the change
    // time: the time to expect is the one the file has now, as long as it is still the file
    // written (same inode, size and modification time). Otherwise the old time stays, and the
    // next save finds the file changed, as it is.
    struct stat now {};
    if (::stat(target.c_str(), &now) != 0) return;
    FileStamp placed = stampOf(now);
    placed.ctimeNs = written.ctimeNs;
    if (placed == written) state->stamp.ctimeNs = stampOf(now).ctimeNs;
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
    if (auto& st = DocumentAccess::impl(doc).incremental) st->signedAtOpen = isSigned;
}

bool wasSignedWhenRead(Document& doc) {
    auto& state = DocumentAccess::impl(doc).incremental;
    if (!state) return false;
    IncrementalState& st = *state;
    if (st.signedAtOpen) return true;
    if (st.signedWhenRead) return *st.signedWhenRead;
    // Worked out when a save first asks, not at the open: it reads every byte of the file. A
    // signature value always lies in the file's plain bytes (its byte ranges leave a gap there),
    // also one whose field the form's field list does not reach (signers leave such files
    // behind). The field walk, over the file as read, is needed only where a signature field can
    // hide from that: a field of kind /Sig, or objects compressed in object streams.
    const unsigned held = bytesHold(st, {"/ByteRange", "/Sig", "/ObjStm"});
    bool isSigned = (held & 1u) != 0;
    if (!isSigned && (held & 6u) != 0) {
        try {
            SignatureFacts facts = signatureFacts(baselineOf(st));
            isSigned = facts.signedValue || facts.permissions;
        } catch (const std::exception&) {
            // A field tree too broken to walk is taken as unsigned.
        }
    }
    st.signedWhenRead = isSigned;
    return isSigned;
}

bool wasUpdatedIncrementally(Document& doc) {
    auto& st = DocumentAccess::impl(doc).incremental;
    return st && !st->updates.empty();
}

std::vector<QPDFObjGen> changeCandidates(IncrementalState& st, QPDF& q) {
    ReadLog& reads = *st.reads;
    std::vector<QPDFObjGen> candidates;
    std::size_t readable = 0, read = 0;
    auto wasRead = [&](const QPDFXRefEntry& e) {
        if (e.getType() == 1) return reads.contains(e.getOffset());
        if (e.getType() == 2) {
            auto it = st.xref.find(QPDFObjGen(e.getObjStreamNumber(), 0));
            return it != st.xref.end() && it->second.getType() == 1 && reads.contains(it->second.getOffset());
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
    if (read == readable) {
        int count = static_cast<int>(q.getObjectCount());
        for (int id = st.maxId + 1; id <= count; ++id) candidates.push_back(QPDFObjGen(id, 0));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

bool unchanged(IncrementalState& st, QPDFObjGen og, const std::string& fp) {
    auto c = st.committed.find(og);
    if (c != st.committed.end()) return fp == (c->second.empty() ? kNull : c->second);
    if (st.xref.count(og)) {
        // Size and 64-bit hash: two versions of one object that collide on both are not a
        // practical case.
        auto digest = [](const std::string& s) { return std::make_pair(s.size(), std::hash<std::string>()(s)); };
        auto h = st.baselineHashes.find(og);
        if (h == st.baselineHashes.end())
            h = st.baselineHashes.emplace(og, digest(fingerprint(baselineOf(st).getObject(og)))).first;
        return digest(fp) == h->second;
    }
    return fp == kNull;  // a new object is written unless it is null
}

}  // namespace quill::pdf
