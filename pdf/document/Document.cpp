// Opening and creating documents, and the page count.
#include "quill/pdf/Document.h"

#include "DocumentImpl.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "Holders.h"
#include "IncrementalState.h"
#include "IncrementalWriter.h"
#include "RawPages.h"
#include "StoredPageCount.h"
#include "quill/paths/SafePaths.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/FileInputSource.hh>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <filesystem>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quill::pdf {

namespace {

// qpdf finds the header anywhere in the first kilobyte; so do we.
constexpr std::size_t kHeaderWindow = 1024;
// A stored /Count above this is not believed (Acrobat's own page limit is about 8.4 million).
constexpr long long kMaxSaneCount = 8388607;
// A page tree root with up to this many kids has its kids' own counts checked against its /Count;
// for a larger one the count is only checked against the number of kids.
constexpr long long kMaxScannedKids = 64;

std::string quotedName(const std::string& path) {
    return "\"" + std::filesystem::path(path).filename().string() + "\"";
}

// The file being opened: one descriptor, opened before anything is asked about it, so that what
// is checked (a plain file, its size and identity) is what qpdf then reads. The name is never
// looked up twice: a name swapped between a PDF and a FIFO or another file cannot slip through.
struct OpenedFile {
    FileDescriptor fd;
    struct stat st {};
};

// Opens `path` for reading and checks it before qpdf sees it, so that each failure gets its own
// code and words. O_NONBLOCK: opening a FIFO (or a device) must not wait for a writer; fstat
// then refuses it.
void openFile(const std::string& path, OpenedFile& file) {
    if (path.empty()) throw Error(err::kFileNotFound, "The file name is empty.");
    // Found through the shared walk: another user's link planted on the way is not followed.
    std::string link;
    file.fd = FileDescriptor(quill::safepaths::openFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0, &link));
    if (!file.fd) {
        int e = errno;
        if (!link.empty())
            throw Error(err::kFileAccess,
                        "The file " + quotedName(path) + " was not opened: " + quill::safepaths::refusedLinkText(link));
        if (e == EACCES)
            throw Error(err::kFileAccess, "You do not have permission to open the file " + quotedName(path) + ".");
        if (e == ENAMETOOLONG) throw Error(err::kFileNotFound, "The file name is too long.");
        if (e == EISDIR)
            throw Error(err::kFileIsFolder, "The path " + quotedName(path) + " names a folder, not a PDF file.");
        if (e == ENOENT || e == ENOTDIR)
            throw Error(err::kFileNotFound, "The file " + quotedName(path) + " does not exist.");
        if (e == ENXIO || e == ENODEV)
            throw Error(err::kUnknownFileType, "The file " + quotedName(path) + " is not a regular file.");
        throw Error(err::kUnableToOpen, "The file " + quotedName(path) + " could not be opened.");
    }
    if (::fstat(file.fd.get(), &file.st) != 0)
        throw Error(err::kUnableToRead, "The file " + quotedName(path) + " could not be read.");
    if (S_ISDIR(file.st.st_mode))
        throw Error(err::kFileIsFolder, "The path " + quotedName(path) + " names a folder, not a PDF file.");
    if (!S_ISREG(file.st.st_mode))
        throw Error(err::kUnknownFileType, "The file " + quotedName(path) + " is not a regular file.");
    // A plain file: reads block as usual from here on.
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags >= 0) (void)::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK);

    char head[kHeaderWindow];
    ssize_t got = ::pread(file.fd.get(), head, sizeof head, 0);
    if (got < 0) throw Error(err::kUnableToRead, "The file " + quotedName(path) + " could not be read.");
    bool found = false;
    for (ssize_t i = 0; i + 5 <= got && !found; ++i) found = std::memcmp(head + i, "%PDF-", 5) == 0;
    if (!found) throw Error(err::kUnknownFileType, "The file " + quotedName(path) + " is not a PDF document.");
}

// Files up to this size are read into memory whole: qpdf then parses from a buffer instead of
// seeking the file for every object (a system call each), and later changes to the file on disk
// cannot reach the open document. Larger files are read from disk as qpdf goes.
constexpr std::uintmax_t kReadWholeLimit = 128u * 1024 * 1024;

// The bytes buffer of the last document freed, kept for the next open: a buffer newly taken from
// the system has every page faulted in as the file is read into it, which costs more than the
// read. One buffer, of a modest size at most; a document may be freed on another thread.
class SpareBuffer {
public:
    static constexpr std::size_t kMaxKept = 16u << 20;

    // A buffer of at least `size` bytes (its capacity in `capacity`), not zeroed.
    std::unique_ptr<char[]> take(std::size_t size, std::size_t& capacity) {
        {
            std::lock_guard lock(mutex_);
            if (kept_ && keptCapacity_ >= size) {
                capacity = keptCapacity_;
                keptCapacity_ = 0;
                return std::move(kept_);
            }
        }
        capacity = size == 0 ? 1 : size;
        return std::unique_ptr<char[]>(new char[capacity]);
    }
    void giveBack(std::unique_ptr<char[]> bytes, std::size_t capacity) noexcept {
        if (!bytes || capacity > kMaxKept) return;
        std::lock_guard lock(mutex_);
        if (kept_ && keptCapacity_ >= capacity) return;
        kept_ = std::move(bytes);
        keptCapacity_ = capacity;
    }

private:
    std::mutex mutex_;
    std::unique_ptr<char[]> kept_;
    std::size_t keptCapacity_ = 0;
};

SpareBuffer& spareBuffer() {
    static SpareBuffer* spare = new SpareBuffer;  // never destroyed: documents may outlive statics
    return *spare;
}

// Reads `size` bytes from the start of `fd` into `out`; true when that is the whole file.
bool readExactly(int fd, char* out, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        ssize_t n = ::pread(fd, out + at, size - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
    }
    char extra = 0;
    return at == size && ::pread(fd, &extra, 1, static_cast<off_t>(at)) == 0;
}

// A document read ahead of its next open (Document::prepareReopen); its incremental state holds
// the bytes and the stamp it was read with. Never destroyed: documents may outlive statics.
struct Prepared {
    std::string path;
    std::shared_ptr<Document> doc;
};

Prepared& prepared() {
    static Prepared* kept = new Prepared;
    return *kept;
}

// The file read ahead of this open when `file` is still that file: the same identity, size and
// times, and the same bytes. The one read ahead goes either way.
std::shared_ptr<Document> takePrepared(const std::string& path, bool repair, const OpenedFile& file) {
    Prepared& p = prepared();
    if (!p.doc) return nullptr;
    std::shared_ptr<Document> doc = std::move(p.doc);
    p.doc.reset();
    const IncrementalState& read = *DocumentAccess::impl(*doc).incremental;
    bool same = !repair && path == p.path && stampOf(file.st) == read.stamp &&
                static_cast<std::uintmax_t>(file.st.st_size) == read.size;
    if (same) {
        std::string now(read.size, '\0');
        same =
            readExactly(file.fd.get(), now.data(), now.size()) && std::memcmp(now.data(), read.bytes, read.size) == 0;
    }
    if (same) return doc;
    doc->takeWarnings();  // its open's warnings come again with the open that reads the file anew
    return nullptr;
}

// A QPDF together with the bytes it parses; the QPDF goes first.
struct Loaded {
    std::unique_ptr<char[]> bytes;  // not zeroed first: the read fills it
    std::size_t size = 0;
    std::size_t capacity = 0;  // of `bytes`, which may be larger than the file
    std::unique_ptr<QPDF> q;

    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded() {
        q.reset();
        spareBuffer().giveBack(std::move(bytes), capacity);
    }
};

// Reads the whole file; false when it cannot (too large, unreadable, or changed while read),
// then qpdf reads the file.
bool readWhole(const OpenedFile& file, Loaded& out) {
    if (static_cast<std::uintmax_t>(file.st.st_size) > kReadWholeLimit) return false;
    const auto size = static_cast<std::size_t>(file.st.st_size);
    out.bytes = spareBuffer().take(size, out.capacity);
    bool ok = readExactly(file.fd.get(), out.bytes.get(), size);
    out.size = ok ? size : 0;
    if (!ok) {
        spareBuffer().giveBack(std::move(out.bytes), out.capacity);
        out.capacity = 0;
    }
    return ok;
}

bool mentionsReconstruction(const std::vector<QPDFExc>& warnings) {
    for (const auto& w : warnings) {
        std::string m = w.what();
        if (m.find("reconstruct") != std::string::npos || m.find("damaged") != std::string::npos) return true;
    }
    return false;
}

// qpdf's parse of the file, its failures turned into the open's errors.
void parseInto(QPDF& q, const std::shared_ptr<InputSource>& source, const std::string& path,
               const std::string& damaged) {
    try {
        q.processInputSource(source);
    } catch (const Error&) {
        throw;
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw Error(err::kNeedPassword, "The file " + quotedName(path) + " is protected by a password.");
        if (e.getErrorCode() == qpdf_e_system)
            throw Error(err::kUnableToRead, "The file " + quotedName(path) + " could not be read.");
        throw Error(err::kNeedRebuild, damaged);
    } catch (const std::exception&) {
        throw Error(err::kNeedRebuild, damaged);
    }
}

}  // namespace

Document::Document() : impl_(std::make_unique<Impl>()) {}
Document::~Document() {
    for (auto& w : warnings_.take()) quill::pdf::warn(w.severity, std::move(w.text));
}

QPDF& Document::qpdf() {
    Impl& me = *impl_;
    if (me.parseFailed) throw Error(err::kNeedRebuild, me.damagedText);
    if (me.unparsed) {
        std::shared_ptr<InputSource> source = std::move(me.unparsed);
        me.unparsed.reset();
        try {
            parseInto(*me.q, source, path_, me.damagedText);
            QPDFObjectHandle root = me.q->getRoot();
            if (!root.isDictionary()) throw Error(err::kNeedRebuild, me.damagedText);
            repaired_ = mentionsReconstruction(me.q->getWarnings());
        } catch (const Error&) {
            me.parseFailed = true;
            throw;
        } catch (const std::exception&) {
            me.parseFailed = true;
            throw Error(err::kNeedRebuild, me.damagedText);
        }
    }
    if (me.rawPages && !me.throughQpdf) settleRawPages(*this);
    if (me.pagesPending) {
        me.pagesPending = false;
        me.editedPages.clear();
        me.q->updateAllPagesCache();
    }
    return *me.q;
}

QPDF& Document::qpdfForWriting() {
    if (!impl_->pagesPending && !impl_->rawPages) return qpdf();
    return *impl_->q;  // parsed: page edits were made
}

std::shared_ptr<Document> DocumentAccess::reopen(const IncrementalState& read) {
    auto state = newIncrementalState(read.owner, read.bytes, read.size, read.path, read.stamp);
    // The QPDF keeps the bytes alive itself: pages copied from it read their streams from them
    // for as long as the document they were copied into lives.
    struct Holder {
        std::shared_ptr<const void> owner;
        QPDF q;  // goes first
    };
    auto holder = std::make_shared<Holder>();
    holder->owner = read.owner;
    std::shared_ptr<QPDF> q(holder, &holder->q);
    q->setSuppressWarnings(true);
    q->setAttemptRecovery(false);
    auto* buffer = new Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(read.bytes)), read.size);
    std::shared_ptr<Document> doc(new Document());
    doc->impl_->q = q;
    doc->impl_->incremental = state;
    doc->impl_->unparsed = recordReads(std::make_shared<BufferInputSource>(read.path, buffer, true), state);
    doc->impl_->damagedText = "The file " + quotedName(read.path) + " is damaged and needs to be repaired.";
    doc->path_ = read.path;
    return doc;
}

std::shared_ptr<Document> Document::create() {
    std::shared_ptr<Document> doc(new Document());
    doc->impl_->q = std::make_shared<QPDF>();
    doc->impl_->q->setSuppressWarnings(true);
    doc->impl_->q->emptyPDF();
    doc->impl_->pagesBuilt = true;
    return doc;
}

std::shared_ptr<Document> Document::open(const std::string& path, bool repair) {
    OpenedFile file;
    openFile(path, file);
    if (auto ready = takePrepared(path, repair, file)) return ready;
    auto loaded = std::make_shared<Loaded>();
    loaded->q = std::make_unique<QPDF>();
    std::shared_ptr<QPDF> q(loaded, loaded->q.get());
    q->setSuppressWarnings(true);
    q->setAttemptRecovery(repair);
    std::shared_ptr<IncrementalState> state;
    const std::string damaged = repair ? "The file " + quotedName(path) + " is damaged and could not be repaired."
                                       : "The file " + quotedName(path) + " is damaged and needs to be repaired.";
    const FileStamp stamp = stampOf(file.st);
    // qpdf reads through a recorder, so that a later incremental save knows which objects it has
    // read (only those can have changed).
    std::shared_ptr<InputSource> source;
    try {
        if (readWhole(file, *loaded)) {
            state = newIncrementalState(loaded, loaded->bytes.get(), loaded->size, path, stamp);
            auto* buffer = new Buffer(reinterpret_cast<unsigned char*>(loaded->bytes.get()), loaded->size);
            source = recordReads(std::make_shared<BufferInputSource>(path, buffer, true), state);
        } else {
            // qpdf reads the very file checked above, through its own descriptor.
            FileDescriptor own(::fcntl(file.fd.get(), F_DUPFD_CLOEXEC, 0));
            std::FILE* f = own ? ::fdopen(own.get(), "rb") : nullptr;
            if (!f) throw Error(err::kUnableToRead, "The file " + quotedName(path) + " could not be read.");
            own.release();  // the FILE closes it now
            auto input = std::make_shared<FileInputSource>();
            input->setFile(path.c_str(), f, true);
            state = newIncrementalState(nullptr, nullptr, static_cast<std::size_t>(file.st.st_size), path, stamp);
            source = recordReads(input, state);
        }
    } catch (const Error&) {
        throw;
    } catch (const std::exception&) {
        throw Error(err::kNeedRebuild, damaged);
    }

    std::shared_ptr<Document> doc(new Document());
    doc->impl_->q = q;
    doc->impl_->incremental = state;
    doc->impl_->damagedText = damaged;
    doc->path_ = path;

    // A plain file (checked cross-reference tables, its page count stated where numPages would
    // believe it) is parsed by qpdf only when its objects are first needed: an open for a page count,
    // or one that fails later for another reason, costs no more than reading the file. qpdf makes
    // an object for every cross-reference entry and every kid of the page tree's root, most of an
    // open and of a close of a large file.
    std::optional<long long> plain;
    if (loaded->size > 0)
        plain = plainPageCount(std::string_view(loaded->bytes.get(), loaded->size), kMaxSaneCount, kMaxScannedKids);
    if (plain) {
        doc->impl_->unparsed = source;
        doc->cachedPages_ = static_cast<int>(*plain);
        doc->cachedAt_ = doc->generation_;
        noteSignedWhenRead(*doc, false);  // usage rights would have made the file not plain
        return doc;
    }

    parseInto(*q, source, path, damaged);
    try {
        QPDFObjectHandle root = q->getRoot();
        if (!root.isDictionary() || !root.getKey("/Pages").isDictionary()) throw Error(err::kNeedRebuild, damaged);
        doc->repaired_ = mentionsReconstruction(q->getWarnings());
        // Counting now surfaces a broken page tree at open time, where the caller expects it.
        doc->numPages();
    } catch (const Error&) {
        throw;
    } catch (const std::exception&) {
        throw Error(err::kNeedRebuild, damaged);
    }
    // Whether the file as read is signed decides how every later save writes it, whatever the
    // edits do to its fields. The open notes only what it has at hand (usage rights in the
    // catalog); the signature values in the file's bytes and fields are looked for when a save
    // first asks (wasSignedWhenRead), so that an open reads neither every byte nor every field.
    bool isSigned = false;
    try {
        QPDFObjectHandle perms = q->getRoot().getKey("/Perms");
        isSigned = perms.isDictionary() && !perms.getKeys().empty();
    } catch (const std::exception&) {
    }
    noteSignedWhenRead(*doc, isSigned);
    return doc;
}

void Document::prepareReopen(const std::string& path, std::size_t maxBytes) {
    dropPrepared();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        return;
    try {
        std::shared_ptr<Document> doc = open(path, false);
        const IncrementalState& read = *doc->impl_->incremental;
        if (!read.bytes || read.size > maxBytes) return;
        // Read as the first field call after the open would read it.
        FormFields::forDocument(doc);
        Prepared& p = prepared();
        p.path = path;
        p.doc = std::move(doc);
    } catch (const std::exception&) {
        // The open that comes next finds the same problem and reports it.
    }
}

void Document::dropPrepared() {
    Prepared& p = prepared();
    if (p.doc) p.doc->takeWarnings();
    p.doc.reset();
    p.path.clear();
}

void Document::markChanged(const std::vector<ObjectId>& objects) {
    // Past this many the list costs more to keep than a new read of the document.
    constexpr std::size_t kMaxChanges = 4096;
    if (changes_.size() + objects.size() > kMaxChanges) {
        markChanged();
        return;
    }
    ++generation_;
    for (const ObjectId& id : objects) changes_.emplace_back(generation_, id);
}

std::optional<std::vector<ObjectId>> Document::changedSince(std::uint64_t generation) const {
    if (generation < unknownAt_ || generation > generation_) return std::nullopt;
    std::vector<std::pair<int, int>> ids;
    for (const auto& [at, id] : changes_)
        if (at > generation) ids.emplace_back(id.number, id.gen);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<ObjectId> objects;
    objects.reserve(ids.size());
    for (auto [number, gen] : ids) objects.push_back(ObjectId{number, gen});
    return objects;
}

void Document::rebindToFile(const std::string& newPath) {
    path_ = newPath;
}

int Document::numPages() {
    if (impl_->rawPages) return impl_->rawPages->pagesAfter;
    if (cachedPages_ >= 0 && cachedAt_ == generation_) return cachedPages_;
    if (impl_->pagesPending) return static_cast<int>(impl_->editedPages.size());  // the edits' own list
    QPDF& q = qpdf();
    int n = -1;
    if (!impl_->pagesBuilt && !repaired_) {
        // The root's stored /Count costs a few object reads; building the page list costs a walk of
        // every page. Believe the count only when it is a sane integer that fits the root's /Kids.
        QPDFObjectHandle pages = q.getRoot().getKey("/Pages");
        QPDFObjectHandle count = pages.getKey("/Count");
        QPDFObjectHandle kids = pages.getKey("/Kids");
        if (count.isInteger() && kids.isArray()) {
            long long c = count.getIntValue();
            long long k = kids.getArrayNItems();
            if (c >= 0 && c <= kMaxSaneCount && k <= c && (k > 0 || c == 0)) {
                // A flat tree's count must equal its kids; nested trees are checked one level down.
                long long sum = 0;
                bool ok = true;
                if (k <= kMaxScannedKids) {
                    for (int i = 0; i < k && ok; ++i) {
                        QPDFObjectHandle kid = kids.getArrayItem(i);
                        if (!kid.isDictionary()) {
                            ok = false;
                            break;
                        }
                        QPDFObjectHandle kc = kid.getKey("/Count");
                        if (kid.getKey("/Kids").isArray()) {
                            if (!kc.isInteger() || kc.getIntValue() < 0)
                                ok = false;
                            else
                                sum += kc.getIntValue();
                        } else {
                            sum += 1;
                        }
                    }
                    ok = ok && sum == c;
                }
                if (ok) n = static_cast<int>(c);
            }
        }
    }
    if (n < 0) {
        n = static_cast<int>(q.getAllPages().size());
        impl_->pagesBuilt = true;
    }
    cachedPages_ = n;
    cachedAt_ = generation_;
    return n;
}

}  // namespace quill::pdf
