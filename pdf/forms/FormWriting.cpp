// The form's requests to viewers, settled before a save or a print.
#include "FormWriting.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Signatures.h"

#include <qpdf/QPDF.hh>

#include <memory>

namespace quill::pdf {

void finishFormForWriting(Document& doc) {
    QPDF& q = doc.qpdfForWriting();
    auto form = q.getRoot().getKey("/AcroForm");
    if (!form.isDictionary()) return;
    auto asks = form.getKey("/NeedAppearances");
    const bool needs = asks.isBool() && asks.getBoolValue();
    const bool xfa = form.hasKey("/XFA");
    if (!needs && !xfa) return;
    // Certification covers the form as it was: only the changes it allows (filling, signing)
    // are made to a certified document, so it keeps both requests.
    if (signatureFacts(q).certification != 0) return;

    std::shared_ptr<FormFields> fields = loadedFormFields(doc);
    if (xfa && fields && fields->valuesSet() && form.getKey("/Fields").isArray() &&
        form.getKey("/Fields").getArrayNItems() > 0) {
        // The XFA data would contradict the values just set; the fields alone are the form now.
        form.removeKey("/XFA");
        doc.markChanged();
    }
    if (!needs) return;
    if (!fields)
        fields = std::make_shared<FormFields>(
            doc.qpdf(), [&doc] { doc.markChanged(); }, false, &doc.warningList());
    form.removeKey("/NeedAppearances");
    // A widget left to the viewer (and one with nothing to draw into) keeps the request.
    if (!fields->drawEverything()) form.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
    doc.markChanged();
}

}  // namespace quill::pdf
