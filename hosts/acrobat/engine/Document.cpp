// Opening and creating documents, and the page count.
#include "Document.h"

#include "DocumentImpl.h"
#include "Error.h"
#include "IncrementalWriter.h"
#include "Signatures.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/FileInputSource.hh>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace quill::pdf {

namespace {

// qpdf finds the header anywhere in the first kilobyte; so do we.
constexpr std::size_t kHeaderWindow = 1024;
// A stored /Count above this is not believed (Acrobat's own page limit is about 8.4 million).
constexpr long long kMaxSaneCount = 8388607;

std::string quotedName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return "\"" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "\"";
}

// Checks what the file system says about `path` before qpdf sees it, so that each failure
// gets its own code and words.
void checkFile(const std::string& path) {
    if (path.empty()) throw Error(err::kFileNotFound, "The file name is empty.");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int e = errno;
        if (e == EACCES)
            throw Error(err::kFileAccess, "You do not have permission to open the file " + quotedName(path) + ".");
        if (e == ENAMETOOLONG) throw Error(err::kFileNotFound, "The file name is too long.");
        throw Error(err::kFileNotFound, "The file " + quotedName(path) + " does not exist.");
    }
    if (S_ISDIR(st.st_mode))
        throw Error(err::kFileIsFolder, "The path " + quotedName(path) + " names a folder, not a PDF file.");
    if (!S_ISREG(st.st_mode))
        throw Error(err::kUnknownFileType, "The file " + quotedName(path) + " is not a regular file.");

    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == EACCES)
            throw Error(err::kFileAccess, "You do not have permission to open the file " + quotedName(path) + ".");
        throw Error(err::kUnableToOpen, "The file " + quotedName(path) + " could not be opened.");
    }
    char head[kHeaderWindow];
    std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    bool found = false;
    for (std::size_t i = 0; i + 5 <= got && !found; ++i) found = std::memcmp(head + i, "%PDF-", 5) == 0;
    if (!found) throw Error(err::kUnknownFileType, "The file " + quotedName(path) + " is not a PDF document.");
}

// Files up to this size are read into memory whole: qpdf then parses from a buffer instead of
// seeking the file for every object (a system call each), and later changes to the file on disk
// cannot reach the open document. Larger files are read from disk as qpdf goes.
constexpr std::uintmax_t kReadWholeLimit = 128u * 1024 * 1024;

// A QPDF together with the bytes it parses; the QPDF goes first.
struct Loaded {
    std::vector<char> bytes;
    std::unique_ptr<QPDF> q;
};

// Reads the whole file; false when it cannot (too large or unreadable), then qpdf reads the file.
bool readWhole(const std::string& path, std::vector<char>& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || static_cast<std::uintmax_t>(st.st_size) > kReadWholeLimit) {
        std::fclose(f);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
    // A file that changed size while read is read again by qpdf from disk.
    bool ok = got == out.size() && std::fgetc(f) == EOF;
    std::fclose(f);
    return ok;
}

bool mentionsReconstruction(const std::vector<QPDFExc>& warnings) {
    for (const auto& w : warnings) {
        std::string m = w.what();
        if (m.find("reconstruct") != std::string::npos || m.find("damaged") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

Document::Document() : impl_(std::make_unique<Impl>()) {}
Document::~Document() = default;

QPDF& Document::qpdf() {
    return *impl_->q;
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
    checkFile(path);
    auto loaded = std::make_shared<Loaded>();
    loaded->q = std::make_unique<QPDF>();
    std::shared_ptr<QPDF> q(loaded, loaded->q.get());
    q->setSuppressWarnings(true);
    q->setAttemptRecovery(repair);
    std::shared_ptr<IncrementalState> state;
    const std::string damaged = repair ? "The file " + quotedName(path) + " is damaged and could not be repaired."
                                       : "The file " + quotedName(path) + " is damaged and needs to be repaired.";
    try {
        // qpdf reads through a recorder, so that a later incremental save knows which objects
        // it has read (only those can have changed).
        std::shared_ptr<InputSource> source;
        if (readWhole(path, loaded->bytes)) {
            state = newIncrementalState(loaded, loaded->bytes.data(), loaded->bytes.size(), path);
            auto* buffer = new Buffer(reinterpret_cast<unsigned char*>(loaded->bytes.data()), loaded->bytes.size());
            source = std::make_shared<BufferInputSource>(path, buffer, true);
        } else {
            auto file = std::make_shared<FileInputSource>(path.c_str());
            struct stat st {};
            ::stat(path.c_str(), &st);
            state = newIncrementalState(nullptr, nullptr, static_cast<std::size_t>(st.st_size), path);
            source = file;
        }
        q->processInputSource(recordReads(source, state));
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw Error(err::kNeedPassword, "The file " + quotedName(path) + " is protected by a password.");
        if (e.getErrorCode() == qpdf_e_system)
            throw Error(err::kUnableToRead, "The file " + quotedName(path) + " could not be read.");
        throw Error(err::kNeedRebuild, damaged);
    } catch (const std::exception&) {
        throw Error(err::kNeedRebuild, damaged);
    }

    std::shared_ptr<Document> doc(new Document());
    doc->impl_->q = q;
    doc->impl_->incremental = state;
    doc->path_ = path;
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
    // edits do to its fields. A field tree too broken to walk is taken as unsigned.
    // The bytes are asked as well: a signature value always lies in the file's plain bytes (its
    // byte ranges leave a gap there), also one whose field the form's field list does not reach
    // (signers leave such files behind), which the walk of the fields cannot see.
    bool isSigned = false;
    if (!loaded->bytes.empty()) {
        static constexpr std::string_view kByteRange = "/ByteRange";
        isSigned = std::search(loaded->bytes.begin(), loaded->bytes.end(),
                               std::boyer_moore_horspool_searcher(kByteRange.begin(), kByteRange.end())) !=
                   loaded->bytes.end();
    }
    try {
        SignatureFacts facts = signatureFacts(*q);
        isSigned = isSigned || facts.signedValue || facts.permissions;
    } catch (const std::exception&) {
    }
    noteSignedWhenRead(*doc, isSigned);
    return doc;
}

void Document::rebindToFile(const std::string& newPath) {
    path_ = newPath;
}

int Document::numPages() {
    if (cachedPages_ >= 0 && cachedAt_ == generation_) return cachedPages_;
    QPDF& q = *impl_->q;
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
                if (k <= 64) {
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
