// Script: the lines of a script file as FileMaker script steps, one step a
// line (or several, while a text, a comment, a "(" or a "[" is open), with
// the If / Loop structure matched up front. Script text copied from
// FileMaker's Script Workspace runs as it is: options that mean nothing here
// (With dialog, Create folders, Select, Restore, buttons) are skipped, and
// "// step" (a disabled step) is a comment.
//
//   Set Variable [ $x ; Value: calc ]            ($$x for a session-wide variable, $x[n] a repetition)
//   If [ calc ] / Else If [ calc ] / Else / End If
//   Loop / Exit Loop If [ calc ] / End Loop
//   Exit Script [ Text Result: calc ]
//   Show Custom Dialog [ "Title" ; calc ]        (printed)
//   Perform Script [ "file.fmscript" ; Parameter: calc ]
//   Go to Record/Request/Page [ First | Last | Next | Previous ; Exit after last: On ]
//   Go to Record/Request/Page [ By Calculation: calc ]
//   Set Field [ Table::Field ; calc ]
//   New Record/Request, Delete Record/Request, Omit Record, Show All Records
//   Sort Records [ Table::Field ; Descending ; Table::Other … ]  (Ascending unless said)
//   Export Records [ "file.csv" ; Include field names ]  (the found set in its order, FileMaker's CSV)
//   Set Error Capture [ On | Off ], Allow User Abort [ On | Off ]
//   Beep, Pause/Resume Script, Refresh Window     (nothing to do here)
//   Comment [ … ]  and lines beginning with #
//   anything else: a calculation, whose result is printed
//
// Parsing never throws: a step that cannot be parsed keeps its error and
// stops the script when it is reached; a broken structure (an End If
// without an If, a Loop without End Loop) is reported before the script runs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Calc.h"
#include "Records.h"

namespace fm_host {

struct Step {
    enum class Kind {
        Nothing,  // a blank line or a comment
        Calc,
        SetVariable,
        If,
        ElseIf,
        Else,
        EndIf,
        Loop,
        ExitLoopIf,
        EndLoop,
        ExitScript,
        ShowDialog,
        PerformScript,
        GoToRecord,
        SetField,
        NewRecord,
        DeleteRecord,
        OmitRecord,
        ShowAll,
        SortRecords,
        ExportRecords,
        SetErrorCapture,
        AllowUserAbort
    };
    Kind kind = Kind::Nothing;
    std::size_t line = 0;                                  // 1-based
    std::string source;                                    // the step as written, trimmed
    std::string variable;                                  // SetVariable: "$name"
    std::optional<Node> calc;                              // the value, condition, result, message or parameter
    std::optional<Node> extra;                             // ShowDialog: the title; PerformScript: the file
    Records::Move move = Records::Move::Next;              // GoToRecord
    bool exitAfterLast = false;                            // GoToRecord
    bool byCalculation = false;                            // GoToRecord: calc is the record number
    std::optional<Node> repetition;                        // SetVariable: the n of $x[n]
    std::string table, field;                              // SetField
    std::vector<std::pair<std::string, bool>> sortFields;  // SortRecords: "Table::Field" or "Field", descending
    bool on = false;                                       // SetErrorCapture, AllowUserAbort
    bool fieldNames = false;                               // ExportRecords: a first row of field names
    std::optional<CalcError> error;                        // why the step cannot run
    // Where control goes: If/ElseIf → the next branch or End If; Else/ElseIf
    // reached after a branch ran, and Exit Loop If → past the block; Loop ↔ End Loop.
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t jump = kNone;
    std::size_t ifEnd = kNone;    // If/ElseIf/Else: the End If
    std::size_t loopEnd = kNone;  // a step inside a loop: the innermost loop's End Loop
};

struct Script {
    std::vector<Step> steps;
    std::optional<Step> structureError;  // the first step whose block does not match
};

Script parseScript(const std::string& text);
// Whether a step or calculation written so far goes on on the next line: a
// text, a comment, a "(" or a "[" is still open. A step may span lines as
// FileMaker writes long calculations.
bool continuesOnNextLine(const std::string& text);
// The steps of a script text, lines joined as continuesOnNextLine says, each
// with the number of its first line.
std::vector<std::pair<std::string, std::size_t>> scriptLines(const std::string& text);
// How many If / Loop blocks the script's steps open, less those they close.
int blockDepthChange(const Script& script);
// One line (for the prompt and for tests).
Step parseStep(const std::string& line, std::size_t lineNumber);

// The step names, as --help and the prompt's completion list them.
const std::vector<std::string>& stepNames();

}  // namespace fm_host
