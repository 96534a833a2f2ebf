// FMWrapper/FMXCalcEngine.h: the parameters of a calculation call (DataVect),
// the calculation environment (ExprEnv) with function registration, and
// their holders. Registration goes to whichever host installed itself with
// fmx::host::setRegistrar.
#pragma once

#include <vector>

#include "FMWrapper/FMXClient.h"
#include "FMWrapper/FMXData.h"

extern "C++" {
namespace fmx {

// ---------------------------------------------------------------------------
// DataVect: the parameters of one calculation call. Reading past the end
// gives an empty value instead of failing.
class DataVect {
public:
    uint32 Size() const { return static_cast<uint32>(items_.size()); }
    void Clear() { items_.clear(); }
    bool IsEmpty() const { return items_.empty(); }
    void PushBack(const Data& data) { items_.push_back(data); }
    Data* PopBack();  // removes the last item; the copy lives until the next call
    const Data& At(uint32 position) const;
    const Text& AtAsText(uint32 position) const { return At(position).GetAsText(); }
    const FixPt& AtAsNumber(uint32 position) const { return At(position).GetAsNumber(); }
    const DateTime& AtAsDate(uint32 position) const { return At(position).GetAsDate(); }
    bool AtAsBoolean(uint32 position) const { return At(position).GetAsBoolean(); }

private:
    std::vector<Data> items_;
    Data popped_;
};

class ExprEnv;
using ExtPluginType = errcode (*)(int16 functionId, const ExprEnv& env, const DataVect& parms, Data& result);

// ---------------------------------------------------------------------------
// ExprEnv: the calculation environment. Registration goes to the host.
class ExprEnv {
public:
    enum : uint32 {
        kMayEvaluateOnServer = 0x00000001,
        kMacCompatible = 0x00000002,
        kWinCompatible = 0x00000004,
        kServerCompatible = 0x00000008,
        kIOSCompatible = 0x00000010,
        kCustomWebCompatible = 0x00000020,
        kWebDirectCompatible = 0x00000040,
        kAllDeviceCompatible = 0x0000007E,
        kDisplayCalcFields = 0x00000100,
        kDisplayAutoEnter = 0x00000200,
        kDisplayValidation = 0x00000400,
        kDisplayCustomFunctions = 0x00000800,
        kDisplayPrivileges = 0x00001000,
        kDisplayInFuture1 = 0x00002000,
        kDisplayInFuture2 = 0x00004000,
        kDisplayGeneric = 0x00008000,
        kDisplayInAllDialogs = 0x0000FF00,
        kFutureCompatible = 0x00FF007E
    };

    // Forwarded to the host's registrar; -1 when no host has installed one.
    static errcode RegisterExternalFunction(const QuadChar& pluginId, short functionId, const Text& functionName,
                                            const Text& functionPrototype, short minArgs, short maxArgs,
                                            uint32 compatibleOnFlags, ExtPluginType funcPtr);
    static errcode RegisterExternalFunctionEx(const QuadChar& pluginId, short functionId, const Text& functionName,
                                              const Text& functionPrototype, const Text& functionDescription,
                                              short minArgs, short maxArgs, uint32 compatibleOnFlags,
                                              ExtPluginType funcPtr);
    static errcode UnRegisterExternalFunction(const QuadChar& pluginId, short functionId);

    ptrtype SessionID() const { return session_; }
    ptrtype FileID() const { return file_; }

    FMX_STANDIN_CONSTRUCTION : ExprEnv() = default;
    explicit ExprEnv(uint64 sessionId, uint64 fileId = 0) : session_(sessionId), file_(fileId) {}
    ExprEnv(const ExprEnv& other) = default;

private:
    friend class ExprEnvUniquePtr;
    uint64 session_ = 0;
    uint64 file_ = 0;
};

inline constexpr uint32 kDisplayInAllDialogs = ExprEnv::kDisplayInAllDialogs;

class DataVectUniquePtr : public std::unique_ptr<DataVect> {
public:
    DataVectUniquePtr() : std::unique_ptr<DataVect>(new DataVect()) {}
};

class ExprEnvUniquePtr : public std::unique_ptr<ExprEnv> {
public:
    ExprEnvUniquePtr() : std::unique_ptr<ExprEnv>(new ExprEnv()) {}
};

// The host side of registration. A host installs one Registrar before it sends
// the initialise message and keeps it installed until after shut-down; every
// ExprEnv in the process forwards to it. Single-threaded, like the host.
namespace host {
class Registrar {
public:
    virtual ~Registrar() = default;
    virtual errcode registerFunction(const QuadChar& pluginId, int16 functionId, const Text& name,
                                     const Text& prototype, const Text& description, int16 minArgs, int16 maxArgs,
                                     uint32 flags, ExtPluginType function) = 0;
    virtual errcode unregisterFunction(const QuadChar& pluginId, int16 functionId) = 0;
};
// Not owned; null uninstalls. Returns the previous one.
Registrar* setRegistrar(Registrar* registrar);
Registrar* registrar();
}  // namespace host

}  // namespace fmx
}
