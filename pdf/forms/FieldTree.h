// The one walk of a form's field tree (/AcroForm /Fields and the /Kids below), shared by every
// reader of it: the field list, the signature facts, the appearance use counts.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <set>
#include <utility>

namespace quill::pdf {

// Deep trees stop here (real forms are a few levels deep); a node this far below /Fields is the
// last one visited on its branch.
constexpr int kMaxFieldDepth = 64;

namespace detail {
template <class Context, class Visit>
void walkFieldNode(QPDFObjectHandle node, const Context& parent, int depth, std::set<QPDFObjGen>& seen, Visit& visit) {
    if (!node.isDictionary() || depth > kMaxFieldDepth) return;
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second) return;
    const Context mine = visit(node, parent);
    QPDFObjectHandle kids = node.getKey("/Kids");
    if (!kids.isArray()) return;
    for (auto& kid : kids.aitems()) walkFieldNode(kid, mine, depth + 1, seen, visit);
}
}  // namespace detail

// Calls `visit(node, parentContext)` for every dictionary of the tree, depth first in document
// order, a node before its kids; what it returns is the context its kids are visited with (the top
// fields get `top`). A node is visited once: one listed twice, or a loop back up the tree, is
// skipped by its object id.
template <class Context, class Visit>
void walkFieldTree(QPDF& pdf, const Context& top, Visit&& visit) {
    QPDFObjectHandle acroForm = pdf.getRoot().getKey("/AcroForm");
    QPDFObjectHandle fields = acroForm.isDictionary() ? acroForm.getKey("/Fields") : QPDFObjectHandle::newNull();
    if (!fields.isArray()) return;
    std::set<QPDFObjGen> seen;
    for (auto& field : fields.aitems()) detail::walkFieldNode(field, top, 0, seen, visit);
}

}  // namespace quill::pdf
