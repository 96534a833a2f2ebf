// End-to-end harness: a sandbox (its own runtime folder, home folder and
// copies of the PDFs), a filemaker-host session driven through a pipe, and
// the clean-up of every process the test started.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "TempDir.h"

namespace e2e {

namespace fs = std::filesystem;

// One calculation's outcome as filemaker-host --json reports it.
struct Result {
    std::string type;   // "text", "number", "date", "empty", or "" when the host refused the calculation
    std::string value;  // the text (UTF-8), number or date (YYYY-MM-DD)
    std::string error;  // the host's own error (bad calculation, parameter count)
    bool isError() const { return value == "!!ERROR!!"; }
};

std::string buildDir();
std::string fixture(const std::string& name);  // a file of the shared fixtures
std::string example(const std::string& name);  // a file of examples/

class Sandbox {
public:
    Sandbox();
    ~Sandbox();  // stops every application started in this sandbox, removes the folder
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const fs::path& root() const { return root_; }
    fs::path home() const { return root_ / "home"; }
    fs::path runtime() const { return root_ / "run"; }
    fs::path applications() const { return applications_; }
    void setApplications(fs::path dir) { applications_ = std::move(dir); }
    // Environment for the processes started in this sandbox.
    std::map<std::string, std::string> environment() const;
    // Copies a file into the sandbox (under `as`, default its own name) and returns the copy's path.
    fs::path copy(const fs::path& from, const std::string& as = {});

    // The pids of the applications registered in this sandbox's runtime folder.
    std::vector<pid_t> applicationPids() const;
    // Only the PDF applications (acrobat-host, whatever name its bundle gives it).
    std::vector<pid_t> acrobatPids() const;
    // Waits until none of these processes runs any more (gone, or a zombie
    // nobody has reaped yet); false when one still runs after the deadline.
    static bool waitForExit(const std::vector<pid_t>& pids,
                            std::chrono::milliseconds deadline = std::chrono::seconds(20));
    void stopApplications();

private:
    quill::testsupport::TempDir dir_{"quill-e2e"};
    const fs::path& root_ = dir_.path;
    fs::path applications_;
};

// A filemaker-host process evaluating one calculation per line (--json).
class FmSession {
public:
    explicit FmSession(const Sandbox& box, std::vector<std::string> extraArgs = {});
    ~FmSession();
    FmSession(const FmSession&) = delete;
    FmSession& operator=(const FmSession&) = delete;

    Result eval(const std::string& calc, std::chrono::seconds timeout = std::chrono::seconds(60));
    // Text result shortcut.
    std::string operator()(const std::string& calc) { return eval(calc).value; }
    std::string lastError() { return eval("Torv_GetLastErrorText").value; }
    std::string lastErrorNumber() { return eval("Torv_GetLastErrorText ( \"number\" )").value; }
    void close();

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
};

// Runs a program (no shell) and returns its exit status and standard output.
struct Run {
    int status = -1;
    std::string out;
};
Run run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});

// A FileMaker text literal for `s` (quotes and backslashes escaped, CR as ¶).
std::string lit(const std::string& s);
// The colon form of an absolute path ("Volume:folder:file.pdf") and the form
// the browse functions return ("Volume/abs/path"), from the volume table.
std::string colonForm(const fs::path& absolute);
std::string browseForm(const fs::path& absolute);
// Number of pages of a PDF file, read by qpdf.
int pagesOf(const fs::path& pdf);

}  // namespace e2e
