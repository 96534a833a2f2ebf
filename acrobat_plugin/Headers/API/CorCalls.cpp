// CorCalls: raising through Acrobat, and path names made from URL texts.
#include "CorCalls.h"

void quillRaise(ASErrorCode code) {
    // Acrobat's raise records the code and calls the innermost frame's restore
    // procedure, which throws. Should it come back (no frame), throw here.
    if (gCoreHFT && gCoreHFT[ASRaiseSEL]) {
        reinterpret_cast<ASRaiseSELPROTO>(gCoreHFT[ASRaiseSEL])(code);
    }
    _miExceptionInfo info;
    info.error = code;
    throw info;
}

void quillRaiseNotImplemented(void) {
    quillRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrMethodNotImplemented));
}

ASPathName pathNameFromURLText(const std::string& escapedURLText) {
    return ASFileSysCreatePathName(nullptr, ASAtomFromString("CFURLRef"), escapedURLText.c_str(), nullptr);
}
