// The record steps of a script: Set Field, New Record, Delete Record, Omit
// Record, Show All Records, Sort Records and Export Records, on a loaded
// table. The table's rows are its found set in order; omitted records wait
// in Table::omitted until Show All Records.
#pragma once

#include <string>
#include <vector>

#include "Records.h"

namespace fm_host::records_edit {

// Answer false when the table has no current record.
bool setField(Table& t, std::size_t column, const std::string& value);
bool deleteRecord(Table& t);
bool omitRecord(Table& t);
void newRecord(Table& t);
void showAll(Table& t);

struct SortKey {
    std::size_t column;
    bool descending = false;
};
// Numbers as numbers, other values as text without regard to case; equal records keep their order.
void sortRecords(Table& t, const std::vector<SortKey>& keys);

// The found set in its order in FileMaker's comma-separated format (UTF-8,
// every value quoted, a record ended by a carriage return, a return inside a
// value written as a vertical tab), the field names first only when asked.
// The file is replaced only once its new bytes were written and read back.
// Throws RecordsError.
void exportCsv(const Table& t, const std::string& path, bool fieldNames = false);

}  // namespace fm_host::records_edit
