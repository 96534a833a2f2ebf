// The load sequence as the probe plug-in sees it: handshake versions, table
// versions through HFTGetVersion and through the fallback list, a missing
// Forms table, and Acrobat exceptions raised inside the host.
#include "Application.h"
#include "Probe.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using acro_host::Application;

namespace {

ProbeState& probe() {
    // The same bundle the Application loads: dlopen hands back the same
    // library, so this is the plug-in's own state.
    static ProbeState* state = [] {
        void* lib = dlopen(PROBE_EXECUTABLE, RTLD_NOW | RTLD_LOCAL);
        if (!lib) throw std::runtime_error(dlerror());
        return reinterpret_cast<ProbeGetStateProc>(dlsym(lib, "ProbeGetState"))();
    }();
    return *state;
}

void resetProbe() {
    std::memset(&probe(), 0, sizeof(ProbeState));
}

void request(const char* name, ASVersion minimum) {
    ProbeRequest& r = probe().requests[probe().requestCount++];
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.minimum = minimum;
}

Application::Options probeOptions() {
    Application::Options o;
    o.pluginsDir = PROBE_PLUGINS_DIR;
    o.installEventHandlers = false;
    return o;
}

std::vector<int> steps() {
    return {probe().steps, probe().steps + probe().stepCount};
}

constexpr ASUns32 V(ASUns32 major, ASUns32 minor) {
    return (major << 16) | minor;
}

TEST(LoadSequence, HandshakeVersionsOfferedTwoMoreAndOne) {
    struct Case {
        ASUns32 offered;
        ASUns32 answered;
        Application::Stage stage;
        std::vector<int> steps;
    };
    const std::vector<Case> cases = {
        {V(2, 0),
         V(2, 0),
         Application::Stage::Loaded,
         {kStepEntry, kStepSetup, kStepHandshake, kStepExport, kStepImport, kStepInit}},
        {V(3, 1),
         V(2, 0),
         Application::Stage::Loaded,
         {kStepEntry, kStepSetup, kStepHandshake, kStepExport, kStepImport, kStepInit}},
        // The plug-in answers 1.0 and its set-up then refuses.
        {V(1, 0), V(1, 0), Application::Stage::Setup, {kStepEntry, kStepSetup}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offered);
        resetProbe();
        auto o = probeOptions();
        o.handshakeVersion = c.offered;
        Application app(o);
        EXPECT_EQ(app.loadPlugins(), c.stage == Application::Stage::Loaded);
        ASSERT_EQ(app.plugins().size(), 1u);
        const auto& report = app.plugins()[0];
        EXPECT_EQ(report.stage, c.stage) << report.detail;
        EXPECT_EQ(report.answeredHandshakeVersion, c.answered);
        EXPECT_EQ(probe().offeredHandshake, c.offered);
        EXPECT_EQ(probe().sdkHandshake, c.answered);
        EXPECT_EQ(steps(), c.steps);
        if (c.stage == Application::Stage::Loaded) {
            EXPECT_EQ(report.extensionName, "TEST:Probe");
        }

        app.quit();
        // Only a loaded plug-in is unloaded, once, at quit.
        auto after = steps();
        EXPECT_EQ(std::count(after.begin(), after.end(), kStepUnload), c.stage == Application::Stage::Loaded ? 1 : 0);
        app.quit();
        after = steps();
        EXPECT_LE(std::count(after.begin(), after.end(), kStepUnload), 1);
    }
}

TEST(LoadSequence, TablesAnswerWithTheirOfferedVersion) {
    resetProbe();
    request("PDModel", V(6, 0));
    request("Cos", V(7, 0));
    auto o = probeOptions();
    o.lowerVersions["Cos"] = V(7, 1);
    Application app(o);
    ASSERT_TRUE(app.loadPlugins()) << app.plugins()[0].detail;
    EXPECT_EQ(probe().acroSupportVersion, V(9, 0));
    EXPECT_EQ(probe().requests[0].found, V(9, 0));
    EXPECT_EQ(probe().requests[1].found, V(7, 1));
}

// A table offered only at 4.5 satisfies a minimum of 4.0 but not 5.0, both
// when the host reports table versions and when the plug-in must probe the
// fallback list (AcroSupport below 6.0).
TEST(LoadSequence, TableAtFourFiveSatisfiesFourButNotFive) {
    for (const bool withVersions : {true, false}) {
        for (const ASVersion minimum : {V(4, 0), V(5, 0)}) {
            SCOPED_TRACE(std::to_string(withVersions) + " " + std::to_string(minimum));
            resetProbe();
            request("PDSysFont", minimum);
            auto o = probeOptions();
            o.lowerVersions["PDSysFont"] = V(4, 5);
            if (!withVersions) {
                o.lowerVersions["AcroSupport"] = V(5, 0);
                probe().acroSupportMinimum = V(5, 0);
            }
            Application app(o);
            const bool loaded = app.loadPlugins();
            EXPECT_EQ(probe().acroSupportVersion, withVersions ? V(9, 0) : V(5, 0));
            if (minimum == V(4, 0)) {
                EXPECT_TRUE(loaded) << app.plugins()[0].detail;
                EXPECT_TRUE(probe().requests[0].ok);
                EXPECT_EQ(probe().requests[0].found, V(4, 5));
            } else {
                EXPECT_FALSE(loaded);
                EXPECT_FALSE(probe().requests[0].ok);
                EXPECT_EQ(probe().requests[0].found, 0u);
                EXPECT_EQ(app.plugins()[0].stage, Application::Stage::Setup);
            }
        }
    }
}

TEST(LoadSequence, AMissingTableFailsSetUp) {
    resetProbe();
    request("PDModel", V(6, 0));
    auto o = probeOptions();
    o.omitted.insert("PDModel");
    Application app(o);
    EXPECT_FALSE(app.loadPlugins());
    EXPECT_EQ(app.plugins()[0].stage, Application::Stage::Setup);
    EXPECT_EQ(steps(), (std::vector<int>{kStepEntry, kStepSetup}));
}

TEST(LoadSequence, AMissingFormsTableFailsTheImportCallback) {
    for (const bool offered : {true, false}) {
        SCOPED_TRACE(offered);
        resetProbe();
        probe().importForms = true;
        auto o = probeOptions();
        o.noForms = !offered;
        Application app(o);
        EXPECT_EQ(app.loadPlugins(), offered);
        EXPECT_EQ(probe().formsFound, offered);
        if (offered) {
            EXPECT_EQ(app.plugins()[0].stage, Application::Stage::Loaded);
        } else {
            EXPECT_EQ(app.plugins()[0].stage, Application::Stage::ImportReplaceAndRegister);
            // Nothing after a failed step: no init, and no unload at quit.
            EXPECT_EQ(steps(), (std::vector<int>{kStepEntry, kStepSetup, kStepHandshake, kStepExport, kStepImport}));
            app.quit();
            EXPECT_EQ(steps().back(), kStepImport);
        }
    }
}

TEST(LoadSequence, ExceptionsRaisedInsideTheHostArriveInThePluginsHandler) {
    resetProbe();
    probe().raiseInInit = true;
    Application app(probeOptions());
    ASSERT_TRUE(app.loadPlugins()) << app.plugins()[0].detail;
    ASSERT_EQ(probe().caughtCount, 2);
    // A bad path type, raised deep inside the host.
    EXPECT_EQ(ErrGetSystem(probe().caughtCodes[0]), ErrSysNone);
    EXPECT_EQ(ErrGetCode(probe().caughtCodes[0]), genErrBadParm);
    EXPECT_STREQ(probe().caughtTexts[0], "Bad parameter.");
    // The plug-in's own raise, through the host and back.
    EXPECT_EQ(probe().caughtCodes[1], ErrBuildCode(ErrAlways, ErrSysPDDoc, pdErrOpNotPermitted));
    EXPECT_STREQ(probe().caughtTexts[1], "Operation not permitted.");
}

TEST(LoadSequence, ARaiseWithoutAFrameEndsOnlyThatCall) {
    resetProbe();
    probe().raiseWithoutFrame = true;
    {
        Application app(probeOptions());
        EXPECT_FALSE(app.loadPlugins());
        EXPECT_EQ(app.plugins()[0].stage, Application::Stage::Init);
        EXPECT_NE(app.plugins()[0].detail.find("Bad parameter."), std::string::npos) << app.plugins()[0].detail;
        EXPECT_FALSE(probe().pastRaiseWithoutFrame);
    }
    // The host goes on: the next load works.
    resetProbe();
    Application again(probeOptions());
    EXPECT_TRUE(again.loadPlugins());
}

TEST(LoadSequence, AFolderWithoutPluginsOrWithBrokenBundlesLoadsNothingAndSurvives) {
    const std::string dir = testing::TempDir() + "acrohost-plugins-" + std::to_string(getpid());
    std::filesystem::create_directories(dir + "/Broken.acroplugin/Contents/MacOS");
    { std::ofstream(dir + "/Broken.acroplugin/Contents/MacOS/Broken") << "not a library"; }
    std::filesystem::create_directories(dir + "/NoExecutable.acroplugin");
    auto o = probeOptions();
    o.pluginsDir = dir;
    Application app(o);
    EXPECT_FALSE(app.loadPlugins());
    ASSERT_EQ(app.plugins().size(), 2u);
    for (const auto& p : app.plugins()) EXPECT_EQ(p.stage, Application::Stage::NotLoadable);

    o.pluginsDir = dir + "/missing";
    Application none(o);
    EXPECT_TRUE(none.loadPlugins());
    EXPECT_TRUE(none.plugins().empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
