// What the report leaves in OUT besides the sheets: .merge-log (every
// record's outcome as it comes, what --resume starts from), failures.csv (one
// line a failed record) and .merge-written.csv (the written files, in record
// order, for --combine), and the summary line it prints.
#pragma once

#include <map>
#include <string>

#include "Handles.h"
#include "Record.h"

namespace merge_report {

// 4,296: a count as the summary shows it.
std::string grouped(long n);
std::string counted(long n, const char* one, const char* many);
std::string duration(double seconds);

class MergeLog {
public:
    explicit MergeLog(const std::string& outDir) : path_(outDir + "/.merge-log") {}
    // The records an earlier, stopped merge into the same folder finished.
    void readInto(std::map<long, Record>& records) const;
    // Opens the log to append to it, made when missing.
    void open();
    // One record's outcome as a JSON line; false when it could not be written.
    bool append(const Record& r);
    void close() { fd_.reset(); }

private:
    std::string path_;
    Fd fd_;
};

struct Tally {
    long written = 0, failed = 0, skipped = 0;
};

// OUT/failures.csv: one line a failed record (the failure to make all.pdf, record -1, last), the
// header alone when none failed; it replaces the old one only once read back. Counts the records
// as it goes; false when it could not be written (the message is shown).
bool writeFailures(const std::string& outDir, const std::map<long, Record>& records, Tally& tally);

// OUT/.merge-written.csv: the written files' paths in record order; its path.
std::string writeWrittenList(const std::string& outDir, const std::map<long, Record>& records);

struct Outcome {
    long found = 0;         // the record count
    long firstMissing = 0;  // the first record that never came, 0 when all did
    bool stopped = false, combinedFailed = false;
    Tally tally;
    double seconds = 0;  // the merge's time
};

// "Mail merge: 12 records, 11 files written, 1 failed, 0 skipped, 2.4 s".
std::string summaryLine(const Outcome& o);

}  // namespace merge_report
