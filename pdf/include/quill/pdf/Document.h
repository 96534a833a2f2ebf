// A PDF document held open by acrobat-host: one QPDF object plus what the host knows about it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "Warnings.h"

class QPDF;

namespace quill::pdf {

// Flags of insertPages (the SDK's PDInsertFlags values).
constexpr int kInsertBookmarks = 0x0001;
constexpr int kInsertThreads = 0x0002;
constexpr int kInsertAll = 0x1000;

// Page numbers the page calls accept besides 0..n-1.
constexpr int kBeforeFirstPage = -1;
constexpr int kLastPage = -2;
constexpr int kAllPages = -3;

// An indirect object of a document: its number and generation.
struct ObjectId {
    int number = 0;
    int gen = 0;
};

// Not thread-safe: a Document is used from the host's main thread only.
class Document {
public:
    // Opens a PDF file. Failures throw Error with a code per kind (missing file, folder, not a PDF,
    // damaged, password needed). Without repair a file that can only be read by reconstructing its
    // cross-reference table is refused as damaged.
    static std::shared_ptr<Document> open(const std::string& path, bool repair);
    // A new document with no pages and no file.
    static std::shared_ptr<Document> create();
    // Reads the file at `path` (up to `maxBytes`) and its field tree ahead of its next open, as a
    // loop that opens the same form for every record does: the next open of `path` without repair
    // that finds the very same file (its identity, times and every byte) takes this document
    // rather than reading it again. One file is kept at a time; a file that cannot be read is
    // left for that open to report.
    static void prepareReopen(const std::string& path, std::size_t maxBytes);
    // Forgets the file read ahead, if any.
    static void dropPrepared();

    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // The document's objects. A plain file is parsed here, on first use, not at the open: throws
    // Error (kNeedRebuild and the like, as the open would have) when that parse fails.
    QPDF& qpdf();
    // The same objects, for code that reads no page list of qpdf's (the writers, the save's
    // checks): after page edits qpdf's list is behind the page tree (which is always up to date)
    // until qpdf() rebuilds it, a walk of every page.
    QPDF& qpdfForWriting();
    // The file the document was opened from or last saved to (not a copy); "" for a new one.
    const std::string& path() const { return path_; }
    // Bumped by every change to the objects; caches keyed on it stay valid while it stands.
    std::uint64_t generation() const { return generation_; }
    // A change to the objects, which ones unknown.
    void markChanged() {
        ++generation_;
        unknownAt_ = generation_;
        changes_.clear();
    }
    // A change to exactly these objects, changed or made (none deleted): a cache of an earlier
    // generation may take them over rather than read everything again.
    void markChanged(const std::vector<ObjectId>& objects);
    // The objects changed since `generation`, each once, when every change since is known; nothing
    // when one is not (or `generation` is not an earlier one of this document).
    std::optional<std::vector<ObjectId>> changedSince(std::uint64_t generation) const;
    // True when the file needed reconstruction to be read (only possible with repair on).
    bool wasRepaired() const { return repaired_; }

    int numPages();
    // Copies `count` pages of `source` starting at its page `start` (0-based; count may be kAllPages)
    // to follow page `after` of this document (kBeforeFirstPage, 0..n-1 or kLastPage). Form widgets
    // and their fields come along. source may be this document.
    void insertPages(int after, Document& source, int start, int count, int flags);
    // Deletes pages first..last (0-based, inclusive; last may be kLastPage).
    void deletePages(int first, int last);

    // Problems recovered from while working on this document, kept here for the application to
    // log (see Warnings.h). A document closed with warnings not taken hands them to the process's list.
    void warn(Severity severity, std::string text) { warnings_.add(severity, std::move(text)); }
    std::vector<Warning> warnings() const { return warnings_.list(); }
    std::vector<Warning> takeWarnings() { return warnings_.take(); }
    // The list itself, for engine parts that work on the document's objects without the document.
    WarningList& warningList() { return warnings_; }

    // Called by save() after a full save to `newPath` that re-bound the document to it.
    void rebindToFile(const std::string& newPath);

private:
    Document();
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::uint64_t generation_ = 1;
    std::uint64_t unknownAt_ = 1;  // the last generation made by a change of unknown objects
    std::vector<std::pair<std::uint64_t, ObjectId>> changes_;  // the known changes since
    bool repaired_ = false;
    int cachedPages_ = -1;  // valid while generation matches cachedAt_
    std::uint64_t cachedAt_ = 0;
    WarningList warnings_;
    friend struct DocumentAccess;
};

}  // namespace quill::pdf
