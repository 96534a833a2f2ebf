// The PDDoc handle: what a plug-in holds for an open document, over the engine's Document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "AcroSDK.h"
#include "quill/pdf/Document.h"

// One per PDDoc handed out. Reference counted as Acrobat's PDDocs are: PDDocOpen/Create give one
// reference, a window (AVDoc) showing the document holds another, PDDocClose drops one.
struct _t_PDDoc {
    std::shared_ptr<quill::pdf::Document> doc;
    ASUns32 flags = 0;      // PDDocFlags other than PDDocNeedsSave
    ASFile file = nullptr;  // the file the document is tied to; null for a new document
    int refCount = 1;
    std::uint64_t savedGeneration = 0;  // document generation when it last matched its file
};

namespace acro_host {

// A new handle with one reference.
PDDoc newPDDoc(std::shared_ptr<quill::pdf::Document> doc);
// True for a handle that is open (made by newPDDoc and not yet released to zero).
bool isLivePDDoc(PDDoc doc);
// The document of a live handle; raises genErrBadParm for null or a closed handle.
quill::pdf::Document& documentOf(PDDoc doc);
void acquirePDDoc(PDDoc doc);
// Drops one reference; the handle is gone at zero.
void releasePDDoc(PDDoc doc);
// The document's flags, PDDocNeedsSave included when it changed since it matched its file.
ASUns32 pdDocFlags(PDDoc doc);
void setPDDocFlags(PDDoc doc, ASUns32 flags);
// Calls `fn` with the document of every open handle (the log takes their warnings).
void forEachLiveDocument(const std::function<void(quill::pdf::Document&)>& fn);
void clearPDDocFlags(PDDoc doc, ASUns32 flags);
// Frees the PDField records of documents no longer open (the Forms table; a close calls it).
void forgetClosedFieldHandles();
// The PDField records held (what a test checks a close frees).
std::size_t fieldHandleCount();

}  // namespace acro_host
