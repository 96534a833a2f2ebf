// Every calculation handler of QuillmarkFM. Each returns 0 to the host and
// carries its outcome in its result and the last-error store; none lets an
// exception out.
#pragma once

#include "PluginSDK.h"

#define QUILL_FM_HANDLER(name) \
    fmx::errcode name(fmx::int16 functionId, const fmx::ExprEnv& env, const fmx::DataVect& parms, fmx::Data& result)

QUILL_FM_HANDLER(Do_Torv_Version);
QUILL_FM_HANDLER(Do_Torv_GetLastErrorText);
QUILL_FM_HANDLER(Do_Torv_OpenPDF);
QUILL_FM_HANDLER(Do_Torv_ClosePDF);
QUILL_FM_HANDLER(Do_Torv_SavePDF);
QUILL_FM_HANDLER(Do_Torv_SaveAsPDF);
QUILL_FM_HANDLER(Do_Torv_PrintPDF);
QUILL_FM_HANDLER(Do_Torv_AppendPDF);
QUILL_FM_HANDLER(Do_Torv_GetNumPages);
QUILL_FM_HANDLER(Do_Torv_DeletePDF);
QUILL_FM_HANDLER(Do_Torv_FileBrowse);
QUILL_FM_HANDLER(Do_Torv_FolderBrowse);
QUILL_FM_HANDLER(Do_Torv_SetPDFFieldValue);
QUILL_FM_HANDLER(Do_Torv_GetPDFFieldValue);
QUILL_FM_HANDLER(Do_Torv_GetFieldNames);
QUILL_FM_HANDLER(Do_Torv_GetPDFInfo);
QUILL_FM_HANDLER(Do_Torv_SetPDFInfo);
QUILL_FM_HANDLER(Do_Torv_GetTextFromPage);
QUILL_FM_HANDLER(Do_Torv_InsertPages);
QUILL_FM_HANDLER(Do_Torv_DeletePages);

namespace quill::fm {
// At unload: forgets the document and the Acrobat target, so that a plug-in
// initialised again in the same process starts with none. Defined with the
// link (link/AcrobatLink.cpp); declared here so the entry needs nothing above
// the frame.
void forgetAcrobat() noexcept;
}  // namespace quill::fm
