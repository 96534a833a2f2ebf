// Core: atoms, callbacks, the extension manager and exception frames.
//
// Exception frames: a plug-in pushes a frame (an environment and a restore
// procedure) around each protected section and pops it at the end. ASRaise
// records the code and calls the innermost frame's restore procedure, which
// does not come back: in a plug-in it throws a C++ exception that unwinds
// through the host's frames back into the plug-in's handler, so all host code
// between a table entry and a raise must be exception-safe. Without a frame
// (or when a restore procedure does come back) the raise ends the request
// with RequestAborted, which the host's own entries and the event dispatcher
// catch: a raise never stops the application.
#include "HostAPI.h"
#include "Program.h"

#include "Tables.h"

#include "quill/pdf/Error.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>

namespace acro_host {

namespace {

// The engine raises Acrobat's own codes without the SDK's headers; each code
// it names is tied to the SDK's name for it here, so the two cannot drift.
namespace engine_err = quill::pdf::err;
static_assert(engine_err::kGeneral == GenError(genErrGeneral));
static_assert(engine_err::kNoMemory == GenError(genErrNoMemory));
static_assert(engine_err::kBadParm == GenError(genErrBadParm));
static_assert(engine_err::kUnableToOpen == PDDocError(pdErrUnableToOpenDoc));
static_assert(engine_err::kUnableToWrite == PDDocError(pdErrUnableToWrite));
static_assert(engine_err::kUnableToRead == PDDocError(pdErrUnableToRead));
static_assert(engine_err::kUnknownFileType == PDDocError(pdErrUnknownFileType));
static_assert(engine_err::kTooManyPages == PDDocError(pdErrTooManyPagesForInsert));
static_assert(engine_err::kNeedRebuild == PDDocError(pdErrNeedRebuild));
static_assert(engine_err::kNeedPassword == PDDocError(pdErrNeedPassword));
static_assert(engine_err::kOpNotPermitted == PDDocError(pdErrOpNotPermitted));
static_assert(engine_err::kCantUseNewVersion == PDDocError(pdErrCantUseNewVersion));
static_assert(engine_err::kRecoverInsertPages == PDDocError(pdErrWhileRecoverInsertPages));
static_assert(engine_err::kNotValidPage == PDDocError(pdErrNotValidPage));
static_assert(engine_err::kFileNotFound == ASFileError(fileErrFNF));
static_assert(engine_err::kFileIsFolder == ASFileError(fileErrIsDirectory));
static_assert(engine_err::kFileAccess == ASFileError(fileErrPermission));
static_assert(engine_err::kFileIO == ASFileError(fileErrIO));
static_assert(engine_err::kDiskFull == ASFileError(fileErrDiskFull));

// ---- atoms ----
struct Atoms {
    std::mutex mutex;
    std::deque<std::string> names{""};  // atom 0 is ASAtomNull; deque keeps c_str() stable
    std::unordered_map<std::string, ASAtom> byName;
};

Atoms& atoms() {
    static Atoms* a = new Atoms;  // never destroyed: atom strings are handed out for good
    return *a;
}

// ---- exception frames ----
struct Frame {
    void* environ;
    ACRestoreEnvironProc restore;
};

// Frames and the last raise belong to the thread that pushes and raises
// (the main thread in practice).
thread_local std::vector<Frame> tFrames;
thread_local ASErrorCode tLastCode = 0;

// The message recorded with the last raise, for ASGetErrorString.
struct LastMessage {
    std::mutex mutex;
    ASErrorCode code = 0;
    std::string text;
};

LastMessage& lastMessage() {
    static LastMessage* m = new LastMessage;
    return *m;
}

constexpr std::size_t kMaxFrames = 4096;

// ---- table entries ----

ACCB1 ASAtom ACCB2 impl_ASAtomFromString(const char* nameStr) {
    if (!nameStr) raise(GenError(genErrBadParm), "An atom cannot be made of nothing.");
    Atoms& a = atoms();
    std::lock_guard lock(a.mutex);
    auto it = a.byName.find(nameStr);
    if (it != a.byName.end()) return it->second;
    // Atoms are 16 bits wide: a full table refuses new names rather than wrap.
    if (a.names.size() > 0xFFFF) raise(GenError(genErrNoMemory), "The atom table is full.");
    const auto atom = static_cast<ASAtom>(a.names.size());
    a.names.emplace_back(nameStr);
    a.byName.emplace(a.names.back(), atom);
    return atom;
}

ACCB1 const char* ACCB2 impl_ASAtomGetString(ASAtom atm) {
    Atoms& a = atoms();
    {
        std::lock_guard lock(a.mutex);
        if (atm < a.names.size()) return a.names[atm].c_str();
    }
    raise(GenError(genErrBadParm), "That atom does not exist.");
}

// A callback is the procedure itself on this host.
ACCB1 ASCallback ACCB2 impl_ASCallbackCreate(ExtensionID extensionID, void* proc) {
    return proc;
}

ACCB1 void ACCB2 impl_ASCallbackDestroy(ASCallback callback) {}

ACCB1 HFT ACCB2 impl_ASExtensionMgrGetHFT(ASAtom name, ASVersion version) {
    const char* text = impl_ASAtomGetString(name);
    return tables().find(text, version);
}

ACCB1 void ACCB2 impl_ASPushExceptionFrame(void* asEnviron, ACRestoreEnvironProc restoreFunc) {
    if (tFrames.size() >= kMaxFrames) {
        // Runaway nesting: refuse rather than grow without bound.
        raise(GenError(genErrExceptionStackOverflow), "Too many nested exception handlers.");
    }
    tFrames.push_back({asEnviron, restoreFunc});
}

ACCB1 void ACCB2 impl_ASPopExceptionFrame(void) {
    if (!tFrames.empty()) tFrames.pop_back();
}

ACCB1 ASErrorCode ACCB2 impl_ASGetExceptionErrorCode(void) {
    return tLastCode;
}

ACCB1 void ACCB2 impl_ASRaise(ASErrorCode error) {
    raise(error);
}

const ProcRegistration reg{CoreHFTName,
                           {
                               {ASAtomFromStringSEL, reinterpret_cast<void*>(&impl_ASAtomFromString)},
                               {ASAtomGetStringSEL, reinterpret_cast<void*>(&impl_ASAtomGetString)},
                               {ASCallbackCreateSEL, reinterpret_cast<void*>(&impl_ASCallbackCreate)},
                               {ASExtensionMgrGetHFTSEL, reinterpret_cast<void*>(&impl_ASExtensionMgrGetHFT)},
                               {ASPushExceptionFrameSEL, reinterpret_cast<void*>(&impl_ASPushExceptionFrame)},
                               {ASPopExceptionFrameSEL, reinterpret_cast<void*>(&impl_ASPopExceptionFrame)},
                               {ASGetExceptionErrorCodeSEL, reinterpret_cast<void*>(&impl_ASGetExceptionErrorCode)},
                               {ASRaiseSEL, reinterpret_cast<void*>(&impl_ASRaise)},
                               {ASCallbackDestroySEL, reinterpret_cast<void*>(&impl_ASCallbackDestroy)},
                           }};

}  // namespace

bool recordedMessage(ASErrorCode code, std::string& text) {
    LastMessage& m = lastMessage();
    std::lock_guard lock(m.mutex);
    if (m.code != code || m.text.empty()) return false;
    text = m.text;
    return true;
}

void raise(ASErrorCode code, const std::string& message) {
    {
        LastMessage& m = lastMessage();
        std::lock_guard lock(m.mutex);
        m.code = code;
        m.text = message;
    }
    tLastCode = code;
    if (!tFrames.empty()) {
        const Frame top = tFrames.back();
        if (top.restore) top.restore(top.environ);
        // A restore procedure that comes back cannot take the exception.
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    program().logWarning(std::string("an Acrobat exception (") + hex + ") found no handler" +
                         (message.empty() ? std::string() : ": " + message) + "; the request ends here");
    throw RequestAborted{code};
}

ASErrorCode codeForException(const std::exception& e, std::string& message) {
    if (const auto* pe = dynamic_cast<const quill::pdf::Error*>(&e)) {
        message = pe->what();
        return static_cast<ASErrorCode>(pe->code());
    }
    if (dynamic_cast<const std::bad_alloc*>(&e)) {
        message.clear();
        return GenError(genErrNoMemory);
    }
    message = e.what();
    return GenError(genErrGeneral);
}

namespace {
ACCB1 void ACCB2 hostRestore(void*) {
    throw RequestAborted{tLastCode};
}
}  // namespace

HostExceptionFrame::HostExceptionFrame() : depth_(tFrames.size()) {
    tFrames.push_back({nullptr, &hostRestore});
}

HostExceptionFrame::~HostExceptionFrame() {
    resetExceptionFrames(depth_);
}

std::size_t exceptionFrameDepth() {
    return tFrames.size();
}

void resetExceptionFrames(std::size_t depth) {
    if (tFrames.size() > depth) tFrames.resize(depth);
}

}  // namespace acro_host
