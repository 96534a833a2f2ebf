// WorkingDocument: the documents QuillmarkAcro keeps between bridge events
// and the few operations that change which document is which.
//
// Rules, stated once for every handler:
// - gPdDoc is the working document, the one every handler works on; null
//   when none is open. It is set by the open handler, cleared by the close
//   handler, replaced by the edit copy when the save handler writes that, and
//   replaced by the active window's document when the field walk adopts it.
// - gPdDocFromWindow is true when gPdDoc was adopted from a document window:
//   the window owns that document, so the plug-in forgets it and never
//   closes it. Otherwise the plug-in owns gPdDoc and closes it with
//   PDDocClose.
// - subDoc is the edit copy: made by the first page-changing request
//   (append, insert, delete) as a new document holding every page of gPdDoc;
//   all page changes go into it, and the save handler writes it over gPdDoc's
//   file, makes it the working document and sets subDoc back to null. The
//   plug-in owns it. An edit copy never outlives the working document it was
//   made from.
// - fieldFound is set by the field walk when the requested field was met;
//   the field handlers clear it before each walk.
//
// Threading: Acrobat delivers every bridge event on its main thread, one at
// a time; these are plain globals without locks.
#pragma once

#include "CorCalls.h"
#include "Holders.h"

extern PDDoc gPdDoc;
extern bool gPdDocFromWindow;
extern PDDoc subDoc;
extern ASBool fieldFound;

namespace quill::acro {

// Closes a window without saving, logging instead of raising.
void closeWindowQuietly(AVDoc window) noexcept;

// Forgets the working document, closing it when the plug-in owns it.
void dropWorkingDocument();

// Makes `doc` the working document, owned by the plug-in; the previous one
// is dropped unless it is the same document.
void replaceWorkingDocument(PDDoc doc);

// The field walk makes the front window's document the working document. An
// edit copy made from the previous working document no longer belongs to it
// and is released with it.
void adoptWindowDocument(PDDoc doc);

// Appends every page of `source` to `target`. Raises on failure.
void copyAllPages(PDDoc target, PDDoc source);

// Makes the edit copy from the working document when there is none. The copy
// becomes subDoc only once every page is in it, so a half-made copy never
// stands in for the document. Raises on failure.
void ensureEditCopy();

}  // namespace quill::acro
