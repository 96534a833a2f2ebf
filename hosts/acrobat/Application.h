// Application: acrobat-host without its process shell — the offered API
// tables, the plug-ins of a Plug-ins folder and their load sequence, the
// document windows, and the standard open-documents and quit events.
//
// One Application at a time per process (the tables and windows are the
// process's). Everything runs on the thread that made it, which is the one
// that serves events (quill::ae::RunLoop::main().run() in the executable,
// the test itself in-process).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AcroSDK.h"

class NSAppleEventDescriptor;

namespace acro_host {

class Application {
public:
    struct Options {
        std::string pluginsDir;  // empty: the Plug-ins folder beside the program (or the XDG folders)
        bool asReader = false;   // only the process identity changes (see identityName())
        // Offer a named table at this version instead of the default.
        std::map<std::string, ASVersion> lowerVersions;
        bool noForms = false;                        // do not offer "Forms"
        std::set<std::string> omitted;               // do not offer these tables at all
        ASUns32 handshakeVersion = HANDSHAKE_V0200;  // what the host offers to each plug-in's entry
        std::string appBundlePath;                   // the application bundle handed to plug-ins; empty: found
        bool installEventHandlers = true;            // the 'aevt' open-documents and quit handlers
    };

    // What became of one plug-in bundle.
    enum class Stage { NotLoadable, Entry, Setup, Handshake, Export, ImportReplaceAndRegister, Init, Loaded };
    struct PluginReport {
        std::string bundlePath;
        std::string extensionName;  // from the handshake; empty before it
        ASUns32 answeredHandshakeVersion = 0;
        Stage stage = Stage::NotLoadable;  // Loaded, or the step that failed
        std::string detail;                // why it failed, for the log
        bool unloaded = false;
    };

    explicit Application(Options options);
    ~Application();  // unloads the plug-ins if quit() has not
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Loads every *.acroplugin bundle of the Plug-ins folder, in name order:
    // entry, set-up, handshake, export, import/replace/register, init. True
    // when every bundle loaded (also when there is none).
    bool loadPlugins();
    const std::vector<PluginReport>& plugins() const { return plugins_; }

    // Opens the PDF at path (any form a plug-in path name accepts: absolute,
    // "~", volume-relative, file URL) in a new, active document window.
    // Throws std::runtime_error with the application's message on failure
    // (the message is also shown as an alert).
    void openWindow(const std::string& path);
    // Closes every document window without saving.
    void closeWindows();
    std::vector<std::string> windowTitles() const;

    // Texts of every alert note so far (AVAlertNote and the host's own).
    std::vector<std::string> alertLog() const;

    // Unloads the plug-ins (their unload callbacks, last loaded first) and
    // closes the windows. Idempotent.
    void quit();
    bool quitRequested() const { return quitRequested_; }

    const Options& options() const { return options_; }
    // "Adobe Acrobat Pro", or "Adobe Reader" with asReader.
    std::string identityName() const;
    std::string bundleIdentifier() const;

private:
    void offerTables();
    void loadOne(const std::string& bundlePath);
    void handleOpenDocuments(NSAppleEventDescriptor* event, NSAppleEventDescriptor* reply);
    void handleQuit(NSAppleEventDescriptor* event, NSAppleEventDescriptor* reply);

    struct Loaded;
    Options options_;
    std::vector<PluginReport> plugins_;
    std::vector<std::unique_ptr<Loaded>> loaded_;
    bool unloaded_ = false;
    bool quitRequested_ = false;
};

}  // namespace acro_host
