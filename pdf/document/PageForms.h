// The form side of inserting and deleting pages: the fields and widgets that come with copied
// pages, the ones that go with deleted pages, and the resources they draw with.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quill::pdf {

// Kept from one insert to the next while the document's generation is the one the last insert
// left (any other change drops it): the document's form helper, analysed once (building it
// walks every field and page), and for each field name the first suffix a clash may still find
// free, so that a new copy of a form does not try again every name its earlier copies took.
// A document that let pages be inserted still does: copied signatures are emptied.
struct InsertRun {
    std::uint64_t generation = 0;
    std::unique_ptr<QPDFAcroFormDocumentHelper> form;
    std::map<std::string, int> nextSuffix;
    bool flat = false;  // the page tree is the flat one relinkPages makes
};

namespace pageforms {

// Copies an object of another document into `target`, direct containers included (qpdf's
// foreign copy takes indirect objects only).
QPDFObjectHandle copyAny(QPDF& target, QPDFObjectHandle obj, int depth = 0);

// Brings the source form's resources and flags the copied widgets rely on into this form.
void mergeFormDefaults(QPDF& target, QPDF& source);

// The top-level field a field belongs to.
QPDFObjectHandle topFieldOf(QPDFObjectHandle field);

// Fields that go with the deleted pages, as a viewer does it: the whole top-level field when none
// of its widgets survives, else the terminal fields whose every widget was on a deleted page, and
// the deleted pages' widgets of fields that stay.
std::set<QPDFObjGen> fieldsLeavingWith(QPDF& q, const std::vector<QPDFObjectHandle>& pages, int first, int last);

// A signature signs the bytes of the file it was made in: copied into another document it would
// claim bytes it never saw, and readers would report it as broken. The copied field stays, empty,
// as a viewer leaves it when it combines signed files.
void clearCopiedSignatures(QPDFAcroFormDocumentHelper& afdh, const std::vector<QPDFObjectHandle>& copies);

// True when `a` (of this document) and `b` (of another) hold the same thing: the same keys and
// values, streams with the same bytes. Bounded: what is too deep or too large counts as different.
bool sameContent(QPDFObjectHandle a, QPDFObjectHandle b, int depth, long& budget);

// True when the source's form can join this document's as it stands: every resource name of its
// /DR is new here or names the same resource, and its default appearance and quadding are this
// form's (or this document has none yet and takes the source's). Then the copied fields keep
// their /DA and appearance streams unchanged, and no resource needs a new name.
bool formJoinsAsIs(QPDF& target, QPDF& source);

// The suffix ("+1", "+2" ...) that makes a copied field's full name new in this form, or "" when
// it is new already: the first one free, as qpdf gives it, searched from the last one given.
std::string freeSuffix(InsertRun& run, const std::string& name);

// Adds the fields of freshly copied pages to this document's form. The pages were copied by qpdf's
// foreign copy from a document not copied from before, so their widgets and fields are objects of
// their own already; qpdf's fixCopiedAnnotations would copy them all once more and look for a
// free name by trying every suffix from 1. Names that clash get the suffix qpdf would give them.
void joinCopiedFields(QPDF& q, InsertRun& run, QPDFAcroFormDocumentHelper& srcAfdh,
                      const std::vector<QPDFObjectHandle>& foreignPages);

// qpdf merges the source form's /DR into this one, renaming what clashes (/ZaDb becomes /ZaDb_1)
// in the copied streams' /Resources at once, but in their content only through a token filter
// applied when the stream is decoded on writing. Saves copy stream data as it stands, so that
// filter would never run and the streams would draw with names their resources no longer have
// (check marks and radio dots would vanish). Every stream a copied page draws with that carries such a filter is
// replaced by one holding the filtered content, under the same object number.
void bakeRenamedResources(QPDF& q, const std::vector<QPDFObjectHandle>& copies);

// Takes the fields (and widgets) out of the form: top-level ones from /Fields, the others from their
// parent's /Kids. Each array is rebuilt once, so the cost does not grow with fields times removals.
void removeFields(QPDF& q, const std::set<QPDFObjGen>& gone);

}  // namespace pageforms
}  // namespace quill::pdf
