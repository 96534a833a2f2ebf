// TestExt: a small FileMaker plug-in for exercising filemaker-host.
#include <exception>
#include <string>

#include "CFBundle.h"
#include "FMWrapper.h"

FMX_ExternCallPtr gFMX_ExternCallPtr = nullptr;

namespace {

int gCalls = 0;  // how many times Test_Count ran

const fmx::QuadChar& pluginId() {
    static const fmx::QuadChar id('T', 'E', 'S', 'T');
    return id;
}

fmx::errcode echo(fmx::int16, const fmx::ExprEnv&, const fmx::DataVect& parms, fmx::Data& result) {
    return result.SetAsText(parms.AtAsText(0), parms.At(0).GetLocale());
}

fmx::errcode concat(fmx::int16, const fmx::ExprEnv&, const fmx::DataVect& parms, fmx::Data& result) {
    fmx::Text all, bar;
    bar.Assign("|");
    for (fmx::uint32 i = 0; i < parms.Size(); ++i) {
        if (i) all.AppendText(bar);
        all.AppendText(parms.AtAsText(i));
    }
    return result.SetAsText(all, fmx::Locale());
}

fmx::errcode count(fmx::int16, const fmx::ExprEnv&, const fmx::DataVect&, fmx::Data& result) {
    return result.SetAsNumber(fmx::FixPt(++gCalls));
}

fmx::errcode date(fmx::int16, const fmx::ExprEnv&, const fmx::DataVect& parms, fmx::Data& result) {
    fmx::DateTime d;
    const auto part = [&](fmx::uint32 i) { return static_cast<fmx::int16>(parms.AtAsNumber(i).AsLong()); };
    if (fmx::errcode rc = d.SetNormalizedDate(part(0), part(1), part(2))) return rc;
    return result.SetAsDate(d);
}

fmx::errcode fail(fmx::int16, const fmx::ExprEnv&, const fmx::DataVect&, fmx::Data&) {
    return 7;
}

struct Row {
    fmx::int16 id, minArgs, maxArgs;
    fmx::ExtPluginType fn;
};
const Row kRows[] = {{100, 1, 1, echo}, {101, 0, 3, concat}, {102, 0, 0, count}, {103, 3, 3, date}, {104, 0, 0, fail}};

// The prototype of a function from the bundle's strings table ("TestExt <id>").
std::string prototypeOf(int id) {
    auto bundle = reinterpret_cast<CFBundleRef>(gFMX_ExternCallPtr->instanceID);
    const NSString key = NSStr("TestExt " + std::to_string(id));
    const NSString v = CFBundleCopyLocalizedString(bundle, key, key, NSStr("TestExt"));
    return v == key ? std::string() : v.UTF8String();
}

void init(FMX_ExternCallPtr pb) {
    if (pb->extnVersion < 50 || pb->extnVersion > 255) {
        pb->result = static_cast<FMX_PtrType>(static_cast<fmx::int64>(kBadExtnVersion));
        return;
    }
    fmx::ExprEnv env;
    for (const auto& r : kRows) {
        const std::string proto = prototypeOf(r.id);
        const std::string name = proto.substr(0, proto.find(" ("));
        env.RegisterExternalFunction(pluginId(), r.id, fmx::Text::FromUTF8(name), fmx::Text::FromUTF8(proto), r.minArgs,
                                     r.maxArgs, fmx::kDisplayInAllDialogs, r.fn);
    }
    pb->result = 56;
}

void getString(FMX_ExternCallPtr pb) {
    auto* out = reinterpret_cast<fmx::unichar16*>(pb->result);
    if (!out || pb->parm3 < 2) return;
    out[0] = 0;
    if (pb->parm1 != kFMXT_NameStr) return;
    const fmx::Text name = fmx::Text::FromUTF8(prototypeOf(128));
    if (name.GetSize() + 1 > pb->parm3) return;
    name.GetUnicode(out, 0, name.GetSize());
    out[name.GetSize()] = 0;
}

}  // namespace

FMX_ENTRYPT void FMExternCallProc(FMX_ExternCallPtr pb) {
    try {
        gFMX_ExternCallPtr = pb;
        switch (pb->whichCall) {
            case kFMXT_Init:
                init(pb);
                break;
            case kFMXT_GetString:
                getString(pb);
                break;
            case kFMXT_Shutdown: {
                fmx::ExprEnv env;
                for (const auto& r : kRows) env.UnRegisterExternalFunction(pluginId(), r.id);
                break;
            }
            default:
                break;
        }
    } catch (...) {
    }
}
