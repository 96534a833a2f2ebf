// The CSV writer's dialects: which fields are quoted, what a line break inside one becomes and
// how records end, as the files written with each expect them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quill/csv/CsvWriter.h"

namespace {

using quill::csv::CsvWriter;
using quill::csv::Dialect;
using quill::csv::Quoting;

constexpr Dialect kRfc = quill::csv::kRfc4180;
constexpr Dialect kExport{Quoting::Always, '\v', "\r"};
constexpr Dialect kPlan{Quoting::NeededOrEmpty, '\n', "\n"};

TEST(CsvWriter, QuotesEachFieldAsItsDialectWants) {
    struct Row {
        const char* value;
        Dialect dialect;
        const char* written;
    };
    const std::vector<Row> rows = {
        {"plain", kRfc, "plain"},
        {"", kRfc, ""},
        {"a,b", kRfc, "\"a,b\""},
        {"say \"hi\"", kRfc, "\"say \"\"hi\"\"\""},
        {"two\r\nlines", kRfc, "\"two\r\nlines\""},
        {"Łódź 東京", kRfc, "Łódź 東京"},
        {"plain", kExport, "\"plain\""},
        {"", kExport, "\"\""},
        {"two\r\nlines\n", kExport, "\"two\v\vlines\v\""},
        {"", kPlan, "\"\""},
        {"plain", kPlan, "plain"},
        {"a\rb", kPlan, "\"a\nb\""},
    };
    for (const auto& r : rows) EXPECT_EQ(quill::csv::field(r.value, r.dialect), r.written) << r.value;
}

TEST(CsvWriter, SeparatesFieldsAndEndsRecords) {
    CsvWriter rfc;
    rfc.record({"record", "name"}).add("7").add("Ann, B").end();
    EXPECT_EQ(rfc.bytes(), "record,name\r\n7,\"Ann, B\"\r\n");

    CsvWriter fm(kExport);
    fm.record(std::vector<std::string>{"a", ""}).record(std::vector<std::string>{});
    EXPECT_EQ(fm.bytes(), "\"a\",\"\"\r\r");
}

}  // namespace
