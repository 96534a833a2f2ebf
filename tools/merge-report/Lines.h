// What the report reads: `filemaker-host --json run merge.fmscript` prints
// one JSON object a line, and the merge script speaks through its dialogs,
// their title naming what the message's CR-separated parts hold.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Handles.h"
#include "Record.h"

namespace merge_report {

struct Message {
    enum class Kind {
        Ignored,         // a JSON line that is no dialog
        Text,            // not a JSON object: `text` is the line, shown as it is
        HostError,       // the host could not run a calculation: `title` its error, `text` the calculation
        RecordDone,      // merge.record: `record` (number, status, file, name) and `found`
        RecordFailed,    // Record N failed: `record` (number, name, call, code, text)
        MergeSummary,    // merge.summary: `found`, `stopped`, `combinedFailed`
        ScriptSummary,   // the script's own "Mail merge" line: `title`, `text`
        CombinedFailed,  // all.pdf could not be made: `record` (name, call, code, text)
        Dialog,          // any other dialog: `title`, `text` on one line
    };
    Kind kind = Kind::Ignored;
    Record record;
    long found = 0;  // the record count
    bool stopped = false, combinedFailed = false;
    std::string title, text;
};

Message readMessage(const std::string& line);

// One input's bytes, split into lines as they come.
struct Input {
    int fd = -1;  // -1 once read to its end
    Fd owned;     // the descriptor when this program opened it (standard input stays open)
    std::string pending;
    bool summary = false;  // its merge.summary (or Mail merge) came
};

// Reads the inputs to their ends, handing on a line at a time from whichever has one.
void readLines(std::vector<Input>& inputs, const std::function<void(Input&, const std::string&)>& line);

}  // namespace merge_report
