// Form fields of a PDF: the field tree in walk order, values, setting and resetting them.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "Document.h"
#include "PdfText.h"
#include "Signatures.h"
#include "Warnings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace quill::pdf {

class Document;
namespace appearance {
class Drawing;
}

// One node of the field tree: a field, or a widget kid that belongs to the field above it.
struct FormField {
    mutable QPDFObjectHandle dict;  // qpdf handles are shared references; its accessors are not const
    int parent = -1;                // index of the parent node in the walk, -1 at the top
    std::string ownKind;            // the node's own /FT name without the solidus ("" when it has none)
    bool named = false;             // has its own /T
    bool terminal = true;           // none of its kids is a named field
    std::u16string fullName;        // partial names from the top joined with "."
    std::string fullNamePDText;     // the same as PDF text: PDFDocEncoding, else FE FF + UTF-16BE;
                                    // always followed by two NUL bytes so c_str() ends either form
};

// The loaded field tree of one QPDF. Not thread-safe: used from the host's main thread only.
class FormFields {
public:
    // `changed` is called after every change this object makes to the PDF's objects. With
    // `deferDrawing`, text and choice appearances are drawn by drawPending() rather than on
    // every set: a field set many times is drawn once. Warnings go to `warnings` (the document's
    // list, which outlives this object) when given, else to the process's list.
    explicit FormFields(QPDF& pdf, std::function<void()> changed = {}, bool deferDrawing = false,
                        WarningList* warnings = nullptr);
    ~FormFields();

    // The document-wide cache: the same FormFields for the same Document as long as its
    // generation has not moved on behind our back (pages inserted, another writer).
    static std::shared_ptr<FormFields> forDocument(const std::shared_ptr<Document>& doc);

    // Reads the tree again from /AcroForm /Fields.
    void reload();

    const std::vector<FormField>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }

    // Index of the first node whose full name equals `name`, or -1. Looked up in an index
    // built with the tree.
    int find(const std::u16string& name) const;

    // Draws the appearances of every text and choice field set since the last call, and writes
    // the fonts embedded for them. Due before the document is written, printed or read as text.
    void drawPending();
    bool hasPending() const { return !pending_.empty(); }
    // Draws every text and choice widget that has no normal appearance at all.
    void drawMissing();
    // Draws every widget anew, so that the form needs no viewer to draw it: text and choice
    // widgets through the appearance drawing, buttons showing their value's state. Fields a
    // signature locks are left as they are. False when a widget is left to the viewer (a locked
    // field, a button without appearances, a widget with nothing to draw into).
    bool drawEverything();
    // True once a value was set or reset through this object.
    bool valuesSet() const { return valuesSet_; }

    // The field's kind looked up through its parents (for what a value means).
    std::string effectiveKind(std::size_t i) const;

    // /V of the node, taken from a same-named parent when the node has none; null when absent.
    QPDFObjectHandle value(std::size_t i) const;
    // The node whose /V value(i) is, or -1.
    int valueHolder(std::size_t i) const;

    // Stores a value as the application does and refreshes the widgets' appearances.
    // Text and choice fields: a string (PDF text) or, for a list box, an array of strings.
    // Buttons: a string or name naming one of the field's states; anything else raises
    // quill::pdf::Error naming the states. A null value removes the value.
    void setValue(std::size_t i, QPDFObjectHandle value);

    // Every field back to its default value (or none). With `names`, only those fields
    // (include) or all but those (exclude); a name covers the fields below it.
    void reset();
    void reset(const std::vector<std::u16string>& names, bool include);

    // The states a button field can take: Off first, then the on-states in widget order.
    std::vector<std::string> buttonStates(std::size_t i) const;

private:
    int ownerOf(std::size_t i) const;  // the named field that holds the value of node i
    std::vector<std::size_t> widgetsSharingValue(std::size_t owner) const;
    void refreshAppearances(std::size_t owner);
    void resetNode(std::size_t i);
    void noteChange();
    // A change of exactly these objects: told as such when the tree is a document's and they are
    // all indirect, else as any change.
    void noteChange(const std::vector<QPDFObjectHandle>& objects);

    QPDF& pdf_;
    std::function<void()> changed_;
    std::function<void(const std::vector<ObjectId>&)> changedObjects_;  // set by the document's cache
    std::vector<FormField> fields_;
    std::vector<std::vector<std::size_t>> kids_;
    std::uint64_t generation_ = 0;  // the Document generation the tree was read at
    std::unordered_map<std::u16string, int> byName_;
    std::unique_ptr<appearance::Drawing> drawing_;
    bool deferDrawing_ = false;
    std::vector<QPDFObjectHandle> pending_;  // widgets whose text is to be drawn, in setting order
    std::set<QPDFObjGen> pendingSet_;
    std::optional<SignatureFacts> signatures_;  // read on the first set of this tree
    bool valuesSet_ = false;
    friend struct FormFieldsCache;
};

// The bytes of a name as qpdf hands it out (without its solidus): its "#xx" escapes decoded.
std::string nameBytes(const std::string& name);

// Draws what the document's form has pending (see FormFields::drawPending); nothing when its
// fields were never loaded. Save, print, page text and page copying call it first.
void flushAppearances(Document& doc);
// Pending appearances drawn, then every text and choice widget without one (see drawMissing).
void drawAllAppearances(Document& doc);
// The document's loaded field tree, or null when its fields were never loaded.
std::shared_ptr<FormFields> loadedFormFields(Document& doc);
// Drops the field trees of documents that are gone (a close calls it: a tree holds the objects of
// every field, which would otherwise live on until the next document's fields are read).
void forgetClosedFormFields();
// Reads the installed fonts' lists and opens the faces most values fall back to, which the first
// value drawn in a process would otherwise wait for. An application calls it once, on its main
// thread, when it has started.
void prepareFieldFonts();

}  // namespace quill::pdf
