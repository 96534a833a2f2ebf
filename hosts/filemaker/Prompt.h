// Prompt: filemaker-host's interactive prompt on a terminal (GNU readline).
//
// Ctrl-C discards the half-typed line, or the If / Loop block being
// gathered, and gives a fresh prompt; during a running step it stops the
// script before its next step. Ctrl-D on an empty line ends the program,
// but while a document is open with changes not saved it says so first and
// needs a second Ctrl-D. History is kept across sessions in
// $XDG_STATE_HOME/quillmark/filemaker-host_history (default ~/.local/state).
#pragma once

#include <string>

#include "PluginHost.h"
#include "Session.h"

namespace fm_host {

// Runs the prompt until Ctrl-D, "quit" or "exit"; the exit status: 0 unless
// the last input failed, as a shell's. `help` is what "help" prints (--help).
int runPrompt(Session& session, PluginHost& host, const std::string& help);

// Where the history is kept ("" when neither $XDG_STATE_HOME nor $HOME is set).
std::string historyFile();

}  // namespace fm_host
