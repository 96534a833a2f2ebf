// Private state of a Document, shared by the engine's own files only.
#pragma once

#include "quill/pdf/Document.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <memory>
#include <set>
#include <string>
#include <vector>

class QPDF;
class InputSource;

namespace quill::pdf {
struct IncrementalState;
struct SharedPageSources;
struct InsertRun;
struct RawPages;
}  // namespace quill::pdf

namespace quill::pdf {

struct Document::Impl {
    std::shared_ptr<QPDF> q;
    // Pages copied in from other documents may read their stream data from the source's file
    // until this document is written; the sources stay alive as long as this document does.
    std::vector<std::shared_ptr<QPDF>> sources;
    std::set<const QPDF*> sourceSet;  // the same, to look up
    // Files pages were inserted from, kept so that later inserts from the same unchanged file copy
    // its fonts and content streams once (Pages.cpp).
    std::shared_ptr<SharedPageSources> pageSources;
    // What one insert leaves for the next while nothing else changed the document in between (its
    // form analysed once, the suffixes given to copied field names): a run of appends costs each
    // append its own pages, not the whole document again (Pages.cpp).
    std::shared_ptr<InsertRun> insertRun;
    // True once qpdf's page list was built (after that it is cheap and kept in step by qpdf).
    bool pagesBuilt = false;
    // The pages as the page edits left them, while qpdf's own page list (rebuilt by a walk of
    // every page) is behind: a run of edits rebuilds it once, when anything else first asks for
    // the document's objects (Document::qpdf). The page tree itself is always up to date.
    std::vector<QPDFObjectHandle> editedPages;
    bool pagesPending = false;
    // The bytes the document was read from and the objects read since; null for a new document.
    std::shared_ptr<IncrementalState> incremental;
    // A plain file is opened without qpdf parsing it: `q` reads `unparsed` when the document's
    // objects are first needed (Document::qpdf). A parse that failed fails every later call alike.
    std::shared_ptr<InputSource> unparsed;
    std::string damagedText;  // the message of that failure
    bool parseFailed = false;
    // Pages inserted from another file's bytes, not yet made qpdf objects (RawPages.h); while it
    // stands, the page tree in `q` is the one before that insert.
    std::shared_ptr<RawPages> rawPages;
    bool throughQpdf = false;  // set while such an insert is made through qpdf
};

// Lets the engine's other files reach the private state.
struct DocumentAccess {
    static Document::Impl& impl(Document& d) { return *d.impl_; }
    // A new document over the bytes another was read from, parsed on first use.
    static std::shared_ptr<Document> reopen(const IncrementalState& read);
};

}  // namespace quill::pdf
