// HostAPI: what the files behind the API tables share — raising Acrobat
// exceptions, the text and path-name objects, and registering procedures
// into the tables.
//
// Everything here runs on the host's main thread (the plug-in calls the
// tables from its event handlers there); the registries are locked anyway.
#pragma once

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AcroSDK.h"
#include "HostServices.h"

namespace acro_host {

// Records message (when not empty) as the text ASGetErrorString gives for
// code, then raises code as ASRaise does: the innermost exception frame's
// restore procedure takes over (in a plug-in it throws back to its handler).
// With no frame, the request is ended by a RequestAborted exception.
[[noreturn]] void raise(ASErrorCode code, const std::string& message = {});

// The units of a PDF text (as ASTextFromPDText reads it).
std::u16string decodePDText(const char* str);

// Code and message for a C++ exception escaping the host's own code:
// quill::pdf::Error keeps its code, bad_alloc is genErrNoMemory, anything
// else genErrGeneral with what() as the message.
ASErrorCode codeForException(const std::exception& e, std::string& message);

// Runs body; a C++ exception out of it becomes an Acrobat exception with its
// code and message. An Acrobat exception thrown by a frame's restore
// procedure (or RequestAborted) passes through untouched.
template <class F>
auto guarded(F&& body) -> decltype(body()) {
    ASErrorCode code = 0;
    std::string message;
    try {
        return body();
    } catch (const std::exception& e) {
        code = codeForException(e, message);
    }
    raise(code, message);
}

// ---- ASText: UTF-16 inside ----
// A new text object holding units; destroyed by ASTextDestroy.
ASText newText(std::u16string units);
// The units of a live text object; raises genErrBadParm for null or an
// object that is not (or no longer) a text.
const std::u16string& textUnits(ASConstText text);
void setText(ASText text, std::u16string units);
// The same, keeping the text's storage when it is large enough (a text refilled per word).
void assignText(ASText text, std::u16string_view units);
// UTF-8 of a text (unpaired surrogates become U+FFFD).
std::string textUtf8(ASConstText text);

// ---- path names and files ----
// The POSIX path a live path name stands for; raises genErrBadParm otherwise.
std::string pathNameToPosix(ASPathName path);
// The one file object of a path (made on first use, kept while the host runs).
ASFile fileForPath(const std::string& posixPath);
// The path of a file object; raises genErrBadParm for one not made by fileForPath.
std::string filePath(ASFile file);

// ---- memory handed to plug-ins ----
// Buffers a plug-in frees with ASfree are allocated with std::malloc.
// A malloc'd copy of bytes followed by two zero bytes; raises on exhaustion.
char* mallocCopy(const std::string& bytes);

// ---- host internals ----
// The message recorded by the last raise of code, if any.
bool recordedMessage(ASErrorCode code, std::string& text);

// ---- the tables ----
// RequestAborted, the exception-frame bookkeeping, the procedure registry and
// the path names the host itself uses are in HostServices.h.
struct ProcRegistration {
    ProcRegistration(const char* hftName, std::initializer_list<std::pair<Selector, void*>> procs) {
        for (const auto& [sel, proc] : procs) registerProc(hftName, sel, proc);
    }
};

}  // namespace acro_host
