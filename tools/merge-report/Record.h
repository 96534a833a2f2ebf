// A record's outcome as the merge reports it, and how many a contact sheet holds.
#pragma once

#include <string>

namespace merge_report {

constexpr int kColumns = 4, kRows = 5, kPerSheet = kColumns * kRows;

struct Record {
    long number = 0;
    std::string status;  // written, failed, skipped; missing: the merge never reached it
    std::string file;    // written: the file's name in OUT
    std::string name;
    std::string call, code, text;  // failed
};

}  // namespace merge_report
