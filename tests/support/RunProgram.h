// Running a helper program from a test or bench, never through a shell.
#pragma once

#include <string>
#include <vector>

namespace quill::testsupport {

// Runs a program found on PATH with its standard error discarded; its exit status, 127 when it
// cannot be started, -1 when it did not exit normally. Its standard output goes to `out` when
// given, else to /dev/null.
int runProgram(const std::vector<std::string>& argv, std::string* out = nullptr);

}  // namespace quill::testsupport
