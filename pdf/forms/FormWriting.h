// What a form says to the viewers that open the file written from it.
#pragma once

namespace quill::pdf {

class Document;

// Due before a document is saved or printed. A form that asks viewers to draw its fields
// (/NeedAppearances) has every field drawn here and stops asking: a viewer's own drawing loses
// the characters its fonts lack. A hybrid form whose values were set here loses its XFA copy of
// the form, which XFA-aware viewers would show with the old values. A certified document keeps
// both as its certification saw them.
void finishFormForWriting(Document& doc);

}  // namespace quill::pdf
