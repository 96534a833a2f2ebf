// PDModel 5.0 permission requests: what a document's certification and signature locks allow.
#include "AcroSDK.h"
#include "HostAPI.h"
#include "PDDocHandle.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Signatures.h"

namespace {

// Only pages are asked about: adding, removing or moving them is what any certification or
// locking signature forbids; everything else is checked by the call that makes the change.
ACCB1 PDPermReqStatus ACCB2 impl_PDDocPermRequest(PDDoc doc, PDPermReqObj reqObj, PDPermReqOpr reqOpr, void*) {
    return acro_host::guarded([&]() -> PDPermReqStatus {
        auto& d = acro_host::documentOf(doc);
        if (reqObj != PDPermReqObjPage) return PDPermReqUnknownObject;
        switch (reqOpr) {
            case PDPermReqOprAll:
            case PDPermReqOprCreate:
            case PDPermReqOprDelete:
            case PDPermReqOprInsert:
            case PDPermReqOprReorder:
            case PDPermReqOprReplace:
            case PDPermReqOprModify:
                break;
            default:
                return PDPermReqUnknownOperation;
        }
        int level = 0;
        try {
            level = quill::pdf::permittedChanges(quill::pdf::signatureFacts(d.qpdfForWriting()));
        } catch (const std::exception&) {
            level = 0;  // a field tree too broken to walk holds no signature that counts
        }
        return level == 0 ? PDPermReqGranted : PDPermReqDenied;
    });
}

acro_host::ProcRegistration registration{"PDModel",
                                         {
                                             {PDDocPermRequestSEL, reinterpret_cast<void*>(&impl_PDDocPermRequest)},
                                         }};

}  // namespace
