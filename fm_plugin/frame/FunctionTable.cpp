// The one function table: IDs, parameter ranges, flags and handlers. Names
// and prototypes come from the strings table under "Quillmark <id>".
#include "FunctionTable.h"

#include "Handlers.h"

namespace quill::fm {

namespace {
// Offered in every calculation dialog; never evaluated on a server.
constexpr std::uint32_t kFlags = fmx::ExprEnv::kDisplayInAllDialogs;

// Registration order is part of the interface: 171 comes last, after 177.
constexpr FunctionRow kFunctionTable[] = {
    {150, 0, 1, kFlags, &Do_Torv_Version},          {152, 1, 1, kFlags, &Do_Torv_OpenPDF},
    {153, 2, 2, kFlags, &Do_Torv_SetPDFFieldValue}, {154, 1, 1, kFlags, &Do_Torv_GetPDFFieldValue},
    {155, 0, 0, kFlags, &Do_Torv_ClosePDF},         {156, 0, 0, kFlags, &Do_Torv_PrintPDF},
    {157, 1, 1, kFlags, &Do_Torv_GetPDFInfo},       {158, 1, 1, kFlags, &Do_Torv_AppendPDF},
    {159, 1, 1, kFlags, &Do_Torv_DeletePDF},        {160, 0, 0, kFlags, &Do_Torv_GetNumPages},
    {162, 1, 1, kFlags, &Do_Torv_GetTextFromPage},  {163, 1, 1, kFlags, &Do_Torv_SaveAsPDF},
    {164, 0, 1, kFlags, &Do_Torv_GetLastErrorText}, {165, 2, 2, kFlags, &Do_Torv_SetPDFInfo},
    {166, 0, 0, kFlags, &Do_Torv_SavePDF},          {170, 0, 1, kFlags, &Do_Torv_GetFieldNames},
    {175, 0, 0, kFlags, &Do_Torv_FileBrowse},       {176, 0, 0, kFlags, &Do_Torv_FolderBrowse},
    {177, 5, 5, kFlags, &Do_Torv_InsertPages},      {171, 2, 2, kFlags, &Do_Torv_DeletePages},
};
}  // namespace

std::span<const FunctionRow> functionTable() {
    return kFunctionTable;
}

}  // namespace quill::fm
