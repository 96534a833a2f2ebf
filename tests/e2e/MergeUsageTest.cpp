// merge.sh as a user runs it on other forms and folders: a second real form
// (check boxes, a radio group) filled from field names and a map, ragged rows,
// one and two host pairs giving the same files, Ctrl-C and SIGTERM finishing
// the record in hand and --resume, and an output folder whose other files
// are never touched.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "Slurp.h"

using namespace e2e;
using quill::testsupport::slurp;

namespace {

std::map<std::string, std::string> mergeEnv(const Sandbox& box) {
    auto env = box.environment();
    env["QUILL_BUILD"] = buildDir();
    return env;
}

e2e::Run mergeSh(const Sandbox& box, std::vector<std::string> args) {
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", example("merge.sh")});
    return run(args, mergeEnv(box));
}

std::set<std::string> filesIn(const fs::path& dir, const std::string& ext) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ext) names.insert(e.path().filename().string());
    return names;
}

// Field values (buttons as their state) and the Title of a written file.
std::map<std::string, std::string> readBack(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    std::map<std::string, std::string> values;
    for (auto& f : QPDFAcroFormDocumentHelper(q).getFormFields()) {
        auto v = f.getValue();
        values[f.getFullyQualifiedName()] = v.isName() ? v.getName().substr(1) : f.getValueAsString();
    }
    auto info = q.getTrailer().getKey("/Info");
    if (info.isDictionary() && info.getKey("/Title").isString()) values["Title"] = info.getKey("/Title").getUTF8Value();
    return values;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D"
    "\xF0\x9F\x91\xA6";  // 7 code points, one character

// sample_form.pdf: text fields, nine check boxes (state On) and the radio group Sex (MALE, FEMALE).
// 45 records: 3 sheets. Record 7 is ragged, record 11 names no state of Sex.
void writeSampleInput(const fs::path& dir) {
    std::ofstream csv(dir / "people.csv");
    csv << "Name_First,Name_Last,Sex,PHD,MASTERS DEGREE,Phone,Street,Notes\n";
    const char* sexes[] = {"male", "FEMALE", "Female", "MALE"};
    const char* phd[] = {"yes", "no", "On", "off", ""};
    for (int i = 1; i <= 45; ++i) {
        std::string first = "P" + std::to_string(i), last = "Berg", street = "Street " + std::to_string(i);
        if (i == 2) street = "\"Main St\nFlat 2\"";
        if (i == 3) last = "\"Lee\nJr\"";
        if (i == 5) {
            first.clear();
            last.clear();
            for (int k = 0; k < 20; ++k) first += kFamily;
        }
        if (i == 7) {
            csv << first << "," << last << ",male\n";
            continue;
        }
        csv << first << "," << last << "," << (i == 11 ? "other" : sexes[i % 4]) << "," << phd[i % 5] << ",X,"
            << 5550000 + i << "," << street << ",note\n";
    }
    std::ofstream(dir / "map.csv") << "column,field\nPhone,Telephone_Home\nStreet,Address_1\n";
}

TEST(MergeUsage, FillsAnyFormTheSameWithOneOrTwoHostPairs) {
    Sandbox box;
    const fs::path form = box.copy(fixture("sample_form.pdf"), "in/sample_form.pdf");
    writeSampleInput(box.root() / "in");
    std::map<std::string, std::string> failures, sheets[3], text;
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const fs::path out = box.root() / (std::string("out-") + jobs);
        const e2e::Run r =
            mergeSh(box, {"--form", form.string(), "--map", (box.root() / "in/map.csv").string(), "--jobs", jobs,
                          "--combined", "--quiet", "--out", out.string(), (box.root() / "in/people.csv").string()});
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(count(r.out, "columns that fill no field: Notes\n"), 1u) << r.out;
        EXPECT_EQ(count(r.out, "fields no column fills: Name_Middle, "), 1u) << r.out;
        EXPECT_NE(r.out.find("Mail merge: 45 records, 43 files written, 2 failed, 0 skipped, "), std::string::npos)
            << r.out;

        auto pdfs = filesIn(out, ".pdf");
        // The batch file of a form of one's own is titled after the form.
        EXPECT_EQ(pdfs.erase("all.pdf"), 1u);
        EXPECT_EQ(pagesOf(out / "all.pdf"), 43);
        EXPECT_EQ(readBack(out / "all.pdf")["Title"], "sample_form: all 43 records");
        EXPECT_EQ(pdfs.size(), 43u);
        EXPECT_EQ(pdfs.count("07-P7-Berg.pdf") + pdfs.count("11-P11-Berg.pdf"), 0u);
        std::string six;
        for (int k = 0; k < 6; ++k) six += kFamily;
        EXPECT_EQ(pdfs.count("05-" + six + ".pdf"), 1u) << "cut at 48 code points, between two characters";

        // Values as the form takes them: states by name or in another case, yes/no for a check box.
        const struct {
            std::string file;
            std::map<std::string, std::string> values;
        } expected[] = {
            {"01-P1-Berg.pdf",
             {{"Sex", "FEMALE"},
              {"PHD", "Off"},
              {"MASTERS DEGREE", "On"},
              {"Telephone_Home", "5550001"},
              {"Name_First", "P1"},
              {"Title", "P1 Berg"}}},
            {"02-P2-Berg.pdf", {{"Sex", "FEMALE"}, {"PHD", "On"}, {"Address_1", "Main St\rFlat 2"}}},
            {"03-P3-Lee-Jr.pdf", {{"Sex", "MALE"}, {"PHD", "Off"}, {"Title", "P3 Lee Jr"}}},
            {"04-P4-Berg.pdf", {{"Sex", "MALE"}, {"PHD", "Off"}}},
            {"05-" + six + ".pdf", {{"Sex", "FEMALE"}, {"PHD", "On"}}},
        };
        for (const auto& e : expected) {
            ASSERT_TRUE(fs::exists(out / e.file)) << e.file;
            const auto got = readBack(out / e.file);
            for (const auto& [field, value] : e.values) EXPECT_EQ(got.at(field), value) << e.file << " " << field;
        }

        const std::string f = slurp(out / "failures.csv");
        EXPECT_NE(f.find("\r\n7,P7 Berg,CSV,,\"line 10: 3 fields, but the header names 8"), std::string::npos) << f;
        EXPECT_NE(f.find("\r\n11,P11 Berg,\"Torv_SetPDFFieldValue ( \"\"Sex\"\" )\",-"), std::string::npos) << f;
        failures[jobs] = f;
        EXPECT_EQ(filesIn(out, ".png").size(), 3u);
        for (int s = 0; s < 3; ++s) sheets[s][jobs] = slurp(out / ("contact-sheet-0" + std::to_string(s + 1) + ".png"));
        // all.pdf of the shipped form and members: the same pages in the same order.
        const fs::path shipped = box.root() / (std::string("members-") + jobs);
        const e2e::Run m = mergeSh(box, {"--combined", "--jobs", jobs, "--quiet", "--out", shipped.string()});
        EXPECT_EQ(m.status, 0) << m.out;
        EXPECT_EQ(pagesOf(shipped / "all.pdf"), 12);
        text[jobs] = run({"/usr/bin/pdftotext", "-q", (shipped / "all.pdf").string(), "-"}).out;
    }
    EXPECT_EQ(failures["1"], failures["2"]);
    for (auto& s : sheets) EXPECT_TRUE(s["1"] == s["2"]) << "the sheets are the same pixels";
    EXPECT_EQ(text["1"], text["2"]) << "all.pdf holds the same pages in the same order";
    EXPECT_EQ(filesIn(box.root() / "out-1", ".pdf"), filesIn(box.root() / "out-2", ".pdf"));
}

// merge.sh in a process group of its own, as a shell runs a command; answers its exit status.
int mergeStopped(const Sandbox& box, const std::vector<std::string>& args, const fs::path& out, int signal, bool group,
                 std::string& output) {
    const fs::path log = box.root() / "merge-output.txt";
    std::vector<std::string> argv = {example("merge.sh")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const auto& [k, v] : mergeEnv(box)) env.push_back(k + "=" + v);
    const pid_t pid = fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> a, e;
        for (auto& s : argv) a.push_back(s.data());
        for (auto& s : env) e.push_back(s.data());
        a.push_back(nullptr);
        e.push_back(nullptr);
        ::execve(a[0], a.data(), e.data());
        _exit(127);
    }
    ::setpgid(pid, pid);
    // The signal once 30 records are done (the report logs each as it comes).
    for (int i = 0; i < 6000; ++i) {
        std::ifstream in(out / ".merge-log");
        if (std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n') >= 30) break;
        ::usleep(10000);
    }
    ::kill(group ? -pid : pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    output = slurp(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(MergeUsage, CtrlCAndSigtermFinishTheRecordInHandAndResumeGoesOn) {
    const struct {
        int signal;
        bool group;  // Ctrl-C reaches the terminal's whole process group
        int status;
        const char* jobs;
    } cases[] = {{SIGINT, true, 130, "1"}, {SIGTERM, false, 143, "2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        Sandbox box;
        const fs::path csv = box.root() / "many.csv", out = box.root() / "out";
        {
            std::ofstream f(csv);
            f << "Name,City,Email,Plan,Country,Agree\n";
            for (int i = 1; i <= 150; ++i) f << "Member " << i << ",Oslo,m" << i << "@x.no,Basic,Norway,yes\n";
        }
        std::string output;
        const int status = mergeStopped(box, {"--quiet", "--jobs", c.jobs, "--out", out.string(), csv.string()}, out,
                                        c.signal, c.group, output);
        EXPECT_EQ(status, c.status) << output;
        const auto pdfs = filesIn(out, ".pdf");
        ASSERT_LT(pdfs.size(), 150u) << output;
        ASSERT_GE(pdfs.size(), 30u) << output;
        for (const auto& p : pdfs) EXPECT_GE(pagesOf(out / p), 1) << p << " is whole";
        for (const auto& e : fs::directory_iterator(out)) EXPECT_NE(e.path().extension(), ".part") << e.path();
        EXPECT_EQ(slurp(out / "failures.csv"), "record,name,call,code,message\r\n");
        EXPECT_NE(output.find("Mail merge: stopped at record "), std::string::npos) << output;
        EXPECT_NE(output.find(" of 150; " + std::to_string(pdfs.size()) + " files written, 0 failed"),
                  std::string::npos)
            << output;
        // Sheets for the records done, none for a sheet of records never reached.
        std::set<unsigned long> done;
        for (const auto& p : pdfs) done.insert((std::stoul(p.substr(0, 3)) - 1) / 20);
        EXPECT_EQ(filesIn(out, ".png").size(), done.size()) << output;

        // A file cut short (as by a crash) is merged again by --resume; the rest are kept.
        const fs::path cut = out / *pdfs.begin();
        fs::resize_file(cut, fs::file_size(cut) / 2);
        const auto kept = fs::last_write_time(out / *std::next(pdfs.begin()));
        const e2e::Run r = mergeSh(box, {"--quiet", "--resume", "--jobs", c.jobs, "--out", out.string(), csv.string()});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Mail merge: 150 records, 150 files written, 0 failed, 0 skipped, "), std::string::npos)
            << r.out;
        EXPECT_EQ(filesIn(out, ".pdf").size(), 150u);
        EXPECT_GE(pagesOf(cut), 1);
        EXPECT_EQ(fs::last_write_time(out / *std::next(pdfs.begin())), kept) << "a complete file is not made again";
        EXPECT_EQ(filesIn(out, ".png").size(), 8u);
    }
}

TEST(MergeUsage, TouchesOnlyWhatAMergeWroteAndSaysWhatItDid) {
    Sandbox box;
    const fs::path out = box.root() / "out", in = box.root() / "in";
    fs::create_directories(out);
    fs::create_directories(in);
    std::ofstream(out / "2023-taxes.pdf") << "mine";
    std::ofstream(out / "1.pdf") << "mine too";
    std::ofstream(in / "one.csv") << "Name,City,Email,Plan,Country,Agree\nAnn,Oslo,a@x.no,basic,Norway,yes\n";
    std::ofstream(in / "empty.csv") << "Name,City,Email,Plan,Country,Agree\n";
    std::ofstream(in / "ragged.csv") << "Name,City,Email,Plan,Country,Agree\nAnn,Oslo\n";
    const std::string o = out.string();
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
        std::set<std::string> pdfs;  // in out afterwards, among others when the merge wrote more
    } steps[] = {
        {{"--out", o}, 2, "holds 2 PDF files no merge wrote", {"2023-taxes.pdf", "1.pdf"}},
        {{"--force", "--out", o},
         0,
         "Mail merge: 12 records, 12 files written, 0 failed, 0 skipped, ",
         {"2023-taxes.pdf", "1.pdf", "01-Ingrid-Solberg.pdf", "12-Nguyễn-Thị-Hoa.pdf"}},
        {{"--force", "--out", o, (in / "one.csv").string()},
         0,
         "Mail merge: 1 record, 1 file written, 0 failed, 0 skipped, ",
         {"2023-taxes.pdf", "1.pdf", "1-Ann.pdf"}},
        {{"--force", "--out", o, (in / "empty.csv").string()},
         0,
         "Mail merge: 0 records, 0 files written, 0 failed, 0 skipped, ",
         {"2023-taxes.pdf", "1.pdf"}},
        {{"--force", "--strict", "--out", o, (in / "ragged.csv").string()},
         2,
         "ragged, line 2: 2 fields, but the header names 6",
         {"2023-taxes.pdf", "1.pdf"}},
        {{"--out", o, (in / "missing.csv").string()}, 2, "cannot read", {"2023-taxes.pdf", "1.pdf"}},
        {{"--bogus"}, 2, "unknown option --bogus", {"2023-taxes.pdf", "1.pdf"}},
        {{"--help"}, 0, "usage: merge.sh [--form FORM.pdf] [--map MAP.csv]", {"2023-taxes.pdf", "1.pdf"}},
    };
    for (const auto& s : steps) {
        const e2e::Run r = mergeSh(box, s.args);
        SCOPED_TRACE(s.args.front() + " " + s.args.back());
        EXPECT_EQ(r.status, s.status) << r.out;
        EXPECT_NE(r.out.find(s.says), std::string::npos) << r.out;
        const auto pdfs = filesIn(out, ".pdf");
        for (const auto& p : s.pdfs) EXPECT_EQ(pdfs.count(p), 1u) << p;
        if (s.pdfs.size() != 4) {
            EXPECT_EQ(pdfs, s.pdfs) << "a new merge deletes what the last one wrote";
        }
    }
    EXPECT_EQ(slurp(out / "2023-taxes.pdf"), "mine");
    EXPECT_EQ(slurp(out / "1.pdf"), "mine too");
    // A name the merge would write that it did not write before is never replaced.
    std::ofstream(out / "1-Ann.pdf") << "by hand";
    const e2e::Run r = mergeSh(box, {"--force", "--out", o, (in / "one.csv").string()});
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(slurp(out / "1-Ann.pdf"), "by hand");
}

}  // namespace
