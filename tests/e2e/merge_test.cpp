// The mail merge end to end: examples/merge.fmscript over the shipped
// members.csv in filemaker-host with a real acrobat-host; every written file
// read back with libqpdf, field by field, against the CSV.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <fstream>
#include <sstream>

#include "Records.h"

using namespace e2e;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The written file whose name begins with the record's number ("03-…").
fs::path fileOfRecord(const fs::path& out, std::size_t record) {
    const std::string prefix = (record < 10 ? "0" : "") + std::to_string(record) + "-";
    for (const auto& e : fs::directory_iterator(out))
        if (e.path().filename().string().rfind(prefix, 0) == 0) return e.path();
    return {};
}

struct Filled {
    std::map<std::string, std::string> values;  // text and choice values as UTF-8; buttons as their state name
    std::string title;
};

Filled readBack(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    QPDFAcroFormDocumentHelper forms(q);
    Filled f;
    for (auto& field : forms.getFormFields()) {
        auto v = field.getValue();
        f.values[field.getFullyQualifiedName()] = v.isName() ? v.getName().substr(1) : field.getValueAsString();
    }
    auto info = q.getTrailer().getKey("/Info");
    if (info.isDictionary() && info.getKey("/Title").isString()) f.title = info.getKey("/Title").getUTF8Value();
    return f;
}

e2e::Run merge(const Sandbox& box, const fs::path& form, const fs::path& records, const fs::path& out) {
    return run({buildDir() + "/bin/filemaker-host", "run", example("merge.fmscript"), "--records", records.string(),
                "--parameter", form.string(), "--parameter", out.string(), "--quiet"},
               box.environment());
}

TEST(MailMerge, FillsOneFormPerMemberWithEveryValueOfTheCsv) {
    Sandbox box;
    const fs::path form = box.copy(example("form.pdf"));
    const fs::path members = box.copy(example("members.csv"));
    const fs::path out = box.root() / "out";
    fs::create_directories(out);
    const std::string formBefore = slurp(form);

    const e2e::Run r = merge(box, form, members, out);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Mail merge: 12 records, 12 files written, 0 errors, "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Cannot"), std::string::npos) << "no call may fail:\n" << r.out;

    const fm_host::Table table = fm_host::loadCsv(members.string());
    ASSERT_EQ(table.rows.size(), 12u);
    auto col = [&](const char* name) { return *table.column(name); };
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const auto& row = table.rows[i];
        const fs::path pdf = fileOfRecord(out, i + 1);
        ASSERT_FALSE(pdf.empty()) << "no file for record " << i + 1 << " (" << row[col("Name")] << ")";
        const Filled f = readBack(pdf);
        EXPECT_EQ(f.values.at("applicant.name"), row[col("Name")]) << pdf;
        EXPECT_EQ(f.values.at("applicant.city"), row[col("City")]) << pdf;
        EXPECT_EQ(f.values.at("email"), row[col("Email")]) << pdf;
        EXPECT_EQ(f.values.at("plan"), row[col("Plan")]) << pdf;
        EXPECT_EQ(f.values.at("country"), row[col("Country")]) << pdf;
        EXPECT_EQ(f.values.at("agree"), row[col("Agree")] == "yes" ? "Ja" : "Off") << pdf;
        EXPECT_EQ(f.title, "Membership of " + row[col("Name")]) << pdf;
    }
    EXPECT_EQ(slurp(form), formBefore) << "the merge only reads the form";
    EXPECT_TRUE(box.acrobatPids().size() <= 1);
}

TEST(MailMerge, ReportsEachFailedCallAndCountsItInTheSummary) {
    Sandbox box;
    const fs::path records = box.root() / "two" / "members.csv";  // the script reads the table "members"
    fs::create_directories(records.parent_path());
    std::ofstream(records) << "Name,City,Email,Plan,Country,Agree\nAnn,Oslo,a@x.no,Basic,Norway,yes\n"
                              "Bo,Lund,b@x.se,Premium,Sweden,no\n";
    const fs::path out = box.root() / "out";
    fs::create_directories(out);

    const e2e::Run r = merge(box, box.root() / "missing-form.pdf", records, out);
    EXPECT_NE(r.out.find("Cannot open the form for Ann: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cannot open the form for Bo: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Mail merge: 2 records, 0 files written, 2 errors, "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
