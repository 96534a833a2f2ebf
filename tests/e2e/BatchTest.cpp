// The batch file of the mail merge end to end: hundreds of filled forms appended to one document
// and saved through filemaker-host and acrobat-host. The save is answered when done, within the
// ordinary wait for a few hundred forms and past it when the work takes longer, and every form
// keeps its pages, its text and its values.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>

using namespace e2e;

namespace {

std::string pageText(const fs::path& pdf, int page) {
    const std::string p = std::to_string(page);
    return run({"/usr/bin/pdftotext", "-f", p, "-l", p, pdf.string(), "-"}).out;
}

// A copied field's full name without the suffixes ("+12") that kept it apart from the others.
std::string plainName(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '+' && i + 1 < name.size() && std::isdigit(static_cast<unsigned char>(name[i + 1]))) {
            while (i + 1 < name.size() && std::isdigit(static_cast<unsigned char>(name[i + 1]))) ++i;
            continue;
        }
        out += name[i];
    }
    return out;
}

// The value of the field `plain` (plainName) on each page, in page order.
std::vector<std::string> valuesByPage(QPDF& q, const std::string& plain) {
    QPDFAcroFormDocumentHelper forms(q);
    std::vector<std::string> out;
    for (auto& page : QPDFPageDocumentHelper(q).getAllPages()) {
        std::string value = "<none>";
        for (auto& widget : forms.getWidgetAnnotationsForPage(page)) {
            auto field = forms.getFieldForAnnotation(widget);
            if (plainName(field.getFullyQualifiedName()) == plain) value = field.getValueAsString();
        }
        out.push_back(value);
    }
    return out;
}

std::string titleOf(QPDF& q) {
    auto title = q.getTrailer().getKey("/Info").getKey("/Title");
    return title.isString() ? title.getUTF8Value() : "";
}

struct ScopedEnv {
    std::string name;
    ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() { ::unsetenv(name.c_str()); }
};

}  // namespace

// merge.fmscript with "combined" over 300 members: all.pdf holds every filled form in record
// order, each page with its member's name drawn and kept as the field's value, under the batch's
// title, written within the ordinary 20-second wait.
TEST(BatchFile, ThreeHundredFilledFormsInOneFile) {
    constexpr int kMembers = 300;
    Sandbox box;
    const fs::path csv = box.root() / "members.csv";
    std::vector<std::string> names;
    {
        std::ofstream f(csv);
        f << "Name,City,Email,Plan,Country,Agree\n";
        const char* given[] = {"Åsa Lind", "田中 花子", "Łukasz Wróbel", "Анна Иванова", "Kofi Mensah"};
        for (int i = 1; i <= kMembers; ++i) {
            names.push_back(std::string(given[i % 5]) + " " + std::to_string(i));
            f << '"' << names.back() << "\",Oslo,m" << i << "@example.org," << (i % 2 ? "Basic" : "Premium")
              << ",Norway,yes\n";
        }
    }
    const fs::path form = box.copy(example("form.pdf"));
    const fs::path out = box.root() / "out";
    fs::create_directories(out);
    const e2e::Run r =
        run({buildDir() + "/bin/filemaker-host", "run", example("merge.fmscript"), "--records", csv.string(),
             "--parameter", form.string(), "--parameter", out.string(), "--parameter", "combined", "--quiet"},
            box.environment());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Combined file failed"), std::string::npos) << r.out;

    const fs::path all = out / "all.pdf";
    ASSERT_TRUE(fs::exists(all)) << r.out;
    QPDF q;
    q.processFile(all.c_str());
    EXPECT_EQ(titleOf(q), "Membership forms: all 300 members");
    const auto shown = valuesByPage(q, "applicant.name");
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(kMembers));
    EXPECT_EQ(shown, names) << "each page keeps its member's name as the field's value";
    const auto emails = valuesByPage(q, "email");
    EXPECT_EQ(emails.front(), "m1@example.org");
    EXPECT_EQ(emails.back(), "m300@example.org");
    for (int page : {1, kMembers}) {
        const std::string text = pageText(all, page);
        EXPECT_NE(text.find("Quillmark Membership Form"), std::string::npos) << page;
        EXPECT_NE(text.find(names[static_cast<std::size_t>(page - 1)]), std::string::npos) << page << ": " << text;
    }
}

// A save whose work outlasts the caller's ordinary wait is answered with success when done: the
// wait here is 1 s, each write pauses 3 s before it is put in place (the application's test
// option), and the save carries out 300 appends. The close that drops them is answered too.
TEST(BatchFile, ALongAppendAndSaveIsAnsweredWhenDone) {
    Sandbox box;
    std::unique_ptr<FmSession> session;
    {
        ScopedEnv limit("QUILLMARK_REPLY_TIMEOUT_TICKS", "60");
        ScopedEnv delay("QUILLMARK_ACROBAT_SAVE_DELAY_MS", "3000");
        session = std::make_unique<FmSession>(box);
    }
    FmSession& fm = *session;
    const fs::path first = box.copy(example("form.pdf"), "first.pdf");
    std::string paths;
    for (int i = 0; i < 300; ++i)
        paths += (i ? "\r" : "") + box.copy(example("form.pdf"), "f" + std::to_string(i) + ".pdf").string();
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(first) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_AppendPDF ( " + lit(paths) + " )"), "0") << fm.lastError();
    const fs::path all = box.root() / "all.pdf";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(all) + " )"), "0") << fm.lastError();
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << "the save outlasted the wait";
    EXPECT_EQ(fm("Torv_ClosePDF"), "0") << fm.lastError();
    EXPECT_EQ(pagesOf(all), 301);
}

// A batch file that could not be written (all.pdf is a folder here) is a failure of the run: the
// summary says so, failures.csv has its line (no record number, the file's name) and the status is 1.
TEST(BatchFile, AFailedBatchFileIsReportedLikeAFailedRecord) {
    Sandbox box;
    const fs::path out = box.root() / "out";
    fs::create_directories(out / "all.pdf" / "taken");
    const std::string bin = buildDir() + "/bin/";
    const e2e::Run r = run({"/bin/sh", "-c",
                            "\"$0\" --json run \"$1\" --table members --records \"$2\" --quiet --parameter \"$3\" "
                            "--parameter \"$4\" --parameter report --parameter combined | \"$5\" --out \"$4\" 2>&1",
                            bin + "filemaker-host", example("merge.fmscript"), example("members.csv"),
                            example("form.pdf"), out.string(), bin + "quill-merge-report"},
                           box.environment());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Mail merge: 12 records, 12 files written, 0 failed, 0 skipped, "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("; all.pdf failed"), std::string::npos) << r.out;
    std::ifstream csv(out / "failures.csv");
    const std::string failures{std::istreambuf_iterator<char>(csv), {}};
    EXPECT_NE(failures.find("\r\n,all.pdf,\"Torv_SaveAsPDF ( \"\"all.pdf\"\" )\",-1115,"), std::string::npos)
        << failures;
    EXPECT_TRUE(fs::exists(out / "all.pdf" / "taken"));
}
