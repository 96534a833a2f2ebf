// PDModel table: opening, creating, saving and closing documents, their pages and flags.
#include "PDDocHandle.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <set>
#include <string>

#include "RunLoop.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "HostAPI.h"
#include "ObjectHandles.h"
#include "Program.h"
#include "quill/pdf/Save.h"

namespace acro_host {

namespace {

std::set<PDDoc>& liveDocs() {
    static std::set<PDDoc> docs;
    return docs;
}

void forgetClosedDocuments();

void freeAndReturnMemory(std::shared_ptr<quill::pdf::Document>& held) {
    held.reset();
    forgetClosedDocuments();
    program().documentFreed();
}

// What the tables held for documents that are gone: field records, object handles and field
// trees each keep objects of the document alive, and a merge, which only looks fields up by
// name, never walks the tables, so they are pruned here when a document goes.
void forgetClosedDocuments() {
    forgetClosedFieldHandles();
    ObjectHandles::shared().forgetClosed();
    quill::pdf::forgetClosedFormFields();
}

[[noreturn]] void badParm(const std::string& message) {
    raise(GenError(genErrBadParm), message);
}

// A script that fills one form for every record opens it again as soon as it closed it: once such
// a quick reopen was seen, each close of that file reads it ahead of the next open
// (Document::prepareReopen) while the script works on its next record. A file opened again only
// now and then is read when it is opened.
struct RepeatedOpens {
    std::string path;                                // opened last (without repair)
    bool reopenedQuickly = false;                    // its last open came right after a close of it
    std::chrono::steady_clock::time_point closedAt;  // the last close of it; none while it is open
};

RepeatedOpens& repeatedOpens() {
    static RepeatedOpens opens;
    return opens;
}

// An open this soon after the close of the same file counts as a quick reopen.
constexpr std::chrono::milliseconds kQuickReopen{100};
// Forms up to this size are read ahead; a larger file is read when it is opened.
constexpr std::size_t kReadAheadLimit = 1u << 20;

PDDoc openDoc(ASPathName fileName, bool repair) {
    if (!fileName) badParm("No file was named to open.");
    std::string path = pathNameToPosix(fileName);
    program().documentOpening();
    RepeatedOpens& opens = repeatedOpens();
    const auto now = std::chrono::steady_clock::now();
    opens.reopenedQuickly = !repair && opens.path == path &&
                            opens.closedAt != std::chrono::steady_clock::time_point{} &&
                            now - opens.closedAt <= kQuickReopen;
    opens.path = repair ? std::string() : path;
    opens.closedAt = {};
    auto doc = quill::pdf::Document::open(path, repair);
    PDDoc pd = newPDDoc(doc);
    pd->file = fileForPath(path);
    if (doc->wasRepaired()) pd->flags |= PDDocWasRepaired;
    return pd;
}

ACCB1 PDDoc ACCB2 impl_PDDocOpenEx(ASPathName fileName, ASFileSys, PDAuthProcEx, void*, ASBool doRepair) {
    return guarded([&] { return openDoc(fileName, doRepair != 0); });
}

ACCB1 PDDoc ACCB2 impl_PDDocOpen(ASPathName fileName, ASFileSys, PDAuthProc, ASBool doRepair) {
    return guarded([&] { return openDoc(fileName, doRepair != 0); });
}

ACCB1 PDDoc ACCB2 impl_PDDocCreate(void) {
    return guarded([] { return newPDDoc(quill::pdf::Document::create()); });
}

ACCB1 void ACCB2 impl_PDDocSave(PDDoc pd, PDSaveFlags saveFlags, ASPathName newPath, ASFileSys, ProgressMonitor,
                                void*) {
    guarded([&] {
        quill::pdf::Document& doc = documentOf(pd);
        std::string path;
        if (newPath)
            path = pathNameToPosix(newPath);
        else if (pd->file)
            path = filePath(pd->file);
        else
            badParm("The document has no file to save to; give it a name.");
        // Every save writes the whole document (an incremental save is written as a full one).
        quill::pdf::save(doc, saveFlags & (PDSaveCopy | PDSaveFull | PDSaveCollectGarbage), path);
        if (!(saveFlags & PDSaveCopy)) {
            pd->file = fileForPath(path);
            pd->savedGeneration = doc.generation();
        }
    });
}

ACCB1 void ACCB2 impl_PDDocClose(PDDoc pd) {
    guarded([&] {
        if (!isLivePDDoc(pd)) badParm("The document is not open.");
        releasePDDoc(pd);
    });
}

ACCB1 ASFile ACCB2 impl_PDDocGetFile(PDDoc pd) {
    return guarded([&] {
        documentOf(pd);
        return pd->file;
    });
}

ACCB1 ASInt32 ACCB2 impl_PDDocGetNumPages(PDDoc pd) {
    return guarded([&] { return static_cast<ASInt32>(documentOf(pd).numPages()); });
}

ACCB1 void ACCB2 impl_PDDocInsertPages(PDDoc pd, ASInt32 mergeAfterThisPage, PDDoc pd2, ASInt32 startPage,
                                       ASInt32 numPages, ASUns16 insertFlags, ProgressMonitor, void*, CancelProc,
                                       void*) {
    guarded([&] {
        quill::pdf::Document& doc = documentOf(pd);
        quill::pdf::Document& source = documentOf(pd2);
        doc.insertPages(mergeAfterThisPage, source, startPage, numPages, insertFlags);
    });
}

ACCB1 void ACCB2 impl_PDDocDeletePages(PDDoc pd, ASInt32 firstPage, ASInt32 lastPage, ProgressMonitor, void*) {
    guarded([&] { documentOf(pd).deletePages(firstPage, lastPage); });
}

ACCB1 void ACCB2 impl_PDDocClearFlags(PDDoc pd, ASInt32 flags) {
    guarded([&] {
        documentOf(pd);
        clearPDDocFlags(pd, static_cast<ASUns32>(flags));
    });
}

ProcRegistration reg{"PDModel",
                     {{PDDocOpenExSEL, (void*)&impl_PDDocOpenEx},
                      {PDDocOpenSEL, (void*)&impl_PDDocOpen},
                      {PDDocCreateSEL, (void*)&impl_PDDocCreate},
                      {PDDocSaveSEL, (void*)&impl_PDDocSave},
                      {PDDocCloseSEL, (void*)&impl_PDDocClose},
                      {PDDocGetFileSEL, (void*)&impl_PDDocGetFile},
                      {PDDocGetNumPagesSEL, (void*)&impl_PDDocGetNumPages},
                      {PDDocInsertPagesSEL, (void*)&impl_PDDocInsertPages},
                      {PDDocDeletePagesSEL, (void*)&impl_PDDocDeletePages},
                      {PDDocClearFlagsSEL, (void*)&impl_PDDocClearFlags}}};

}  // namespace

PDDoc newPDDoc(std::shared_ptr<quill::pdf::Document> doc) {
    auto* pd = new _t_PDDoc;
    pd->savedGeneration = doc->generation();
    pd->doc = std::move(doc);
    liveDocs().insert(pd);
    return pd;
}

bool isLivePDDoc(PDDoc doc) {
    return doc && liveDocs().count(doc) > 0;
}

quill::pdf::Document& documentOf(PDDoc doc) {
    if (!isLivePDDoc(doc)) badParm("The document is not open.");
    return *doc->doc;
}

void forEachLiveDocument(const std::function<void(quill::pdf::Document&)>& fn) {
    for (PDDoc pd : liveDocs())
        if (pd->doc) fn(*pd->doc);
}

void acquirePDDoc(PDDoc doc) {
    if (isLivePDDoc(doc)) ++doc->refCount;
}

void releasePDDoc(PDDoc doc) {
    if (!isLivePDDoc(doc)) return;
    if (--doc->refCount > 0) return;
    liveDocs().erase(doc);
    std::shared_ptr<quill::pdf::Document> held = std::move(doc->doc);
    delete doc;
    // Its warnings are logged with the process's from now on (the document may outlive the handle).
    if (held)
        for (auto& w : held->takeWarnings()) quill::pdf::warn(w.severity, std::move(w.text));
    // Freeing a large document's objects takes a while, long enough for a caller to notice:
    // inside the run loop it happens once the current event's reply is on its way, so a close
    // answers at once. The handle is gone already; nothing can reach the document meanwhile.
    // The same holds for reading the file ahead of its next open, when opens keep naming it.
    quill::ae::RunLoop& loop = quill::ae::RunLoop::main();
    if (held && held.use_count() == 1 && loop.isRunning() && loop.isCurrentThread()) {
        RepeatedOpens& opens = repeatedOpens();
        std::string again;
        if (!opens.path.empty() && held->path() == opens.path) {
            opens.closedAt = std::chrono::steady_clock::now();
            if (opens.reopenedQuickly) again = opens.path;
        }
        loop.performOnMainThread([held, again]() mutable {
            freeAndReturnMemory(held);
            if (!again.empty()) quill::pdf::Document::prepareReopen(again, kReadAheadLimit);
        });
        return;
    }
    freeAndReturnMemory(held);
}

ASUns32 pdDocFlags(PDDoc doc) {
    quill::pdf::Document& d = documentOf(doc);
    ASUns32 flags = doc->flags & ~static_cast<ASUns32>(PDDocNeedsSave);
    if (d.generation() != doc->savedGeneration) flags |= PDDocNeedsSave;
    return flags;
}

void setPDDocFlags(PDDoc doc, ASUns32 flags) {
    documentOf(doc);
    doc->flags |= flags & ~static_cast<ASUns32>(PDDocNeedsSave);
    // A document marked as needing a save counts as changed until the flag is cleared.
    if (flags & PDDocNeedsSave) doc->savedGeneration = ~std::uint64_t{0};
}

void clearPDDocFlags(PDDoc doc, ASUns32 flags) {
    quill::pdf::Document& d = documentOf(doc);
    doc->flags &= ~flags;
    if (flags & PDDocNeedsSave) doc->savedGeneration = d.generation();
}

}  // namespace acro_host
