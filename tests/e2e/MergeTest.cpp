// The mail merge end to end: examples/merge.fmscript over the shipped
// members.csv in filemaker-host with a real acrobat-host; every written file
// read back with libqpdf, field by field, against the CSV. Then merge.sh as a
// user runs it, over generated CSVs holding what spreadsheets and people
// produce: its files, their names, failures.csv, the contact sheets (by their
// pixels) and the exit status.
#include "Harness.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "Records.h"
#include "Slurp.h"

using namespace e2e;

namespace {

using quill::testsupport::slurp;

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
    EXPECT_NE(r.out.find("Mail merge: 12 records, 12 files written, 0 failed, 0 skipped, "), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("failed:"), std::string::npos) << "no call may fail:\n" << r.out;

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
    EXPECT_NE(r.out.find("Record 1 failed: Ann\nTorv_OpenPDF\n-300\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Record 2 failed: Bo\nTorv_OpenPDF\n-300\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Mail merge: 2 records, 0 files written, 2 failed, 0 skipped, "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(out));
}

// --- merge.sh as a user runs it ------------------------------------------

// merge.sh with its standard error in the output too (the script's own
// arguments are passed as arguments, never as shell text).
e2e::Run mergeSh(const Sandbox& box, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", example("merge.sh")};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = box.environment();
    env["QUILL_BUILD"] = buildDir();
    return run(argv, env);
}

std::set<std::string> pdfsIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".pdf") names.insert(e.path().filename().string());
    return names;
}

// The values of a CSV line as the merge's report writes them (quotes doubled, fields with , " or returns quoted).
std::vector<std::string> csvLines(const fs::path& p) {
    std::vector<std::string> lines;
    std::istringstream in(slurp(p));
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find_last_not_of('\r') + 1));
    return lines;
}

struct Sheet {
    cairo_surface_t* s = nullptr;
    explicit Sheet(const fs::path& p) : s(cairo_image_surface_create_from_png(p.c_str())) {}
    ~Sheet() { cairo_surface_destroy(s); }
    bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(s); }
    int height() const { return cairo_image_surface_get_height(s); }
    // Share of the pixels in the box that `pick` accepts (r, g, b in 0..255).
    template <class F>
    double share(int x, int y, int w, int h, F pick) const {
        const unsigned char* d = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        int hits = 0;
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) {
                const std::uint32_t px = *reinterpret_cast<const std::uint32_t*>(d + j * stride + i * 4);
                hits += pick(static_cast<int>((px >> 16) & 0xFF), static_cast<int>((px >> 8) & 0xFF),
                             static_cast<int>(px & 0xFF));
            }
        return static_cast<double>(hits) / (w * h);
    }
};

// The layout quill-merge-report draws: 4 columns of 240×311 thumbnails with a
// 40-pixel label strip below, 14 pixels apart.
constexpr int kCellW = 254, kCellH = 365, kGap = 14, kThumbW = 240, kThumbH = 311;
const auto red = [](int r, int g, int b) { return r > 180 && g < 90 && b < 90; };
const auto grey = [](int r, int g, int b) { return std::abs(r - 158) < 8 && std::abs(g - 163) < 8 && b > 160; };
const auto white = [](int r, int g, int b) { return r > 245 && g > 245 && b > 245; };
const auto ink = [](int r, int g, int b) { return r + g + b < 300; };

TEST(MailMerge, AccountsForEveryRecordOfAWrittenByHandCsv) {
    Sandbox box;
    const fs::path csv = box.root() / "in" / "contacts.csv";  // not "members": merge.sh names the table
    fs::create_directories(csv.parent_path());
    const std::vector<std::string> scripts = {"Łukasz Wróbel", "Σοφία Παπαδοπούλου",
                                              "Анна Иванова",  "محمد العلي",
                                              "דוד כהן",       "अनन्या शर्मा",
                                              "สมชาย ใจดี",     "田中 花子",
                                              "김민준",        "王小明",
                                              "Nguyễn An",     "ኣበበ በቀለ",
                                              "Արամ Պետրոս",   "გიორგი ბერიძე",
                                              "ঋতু দাস",        "தமிழ் செல்வி",
                                              "ಕನ್ನಡ",          "ਪੰਜਾਬੀ",
                                              "ગુજરાતી",        "ລາວ",
                                              "ᏣᎳᎩ",           "ܐܪܡܝܐ",
                                              "ދިވެހި",           "မြန်မာ",
                                              "ខ្មែរ",          "ᠮᠣᠩᠭᠣᠯ",
                                              "Zoë Ålund"};
    std::ostringstream rows;
    rows << "Name,City,Email,Plan,Country,Agree\n";
    const std::string tail = ",Oslo,a@example.org,Basic,Norway,yes\n";
    rows << "Ingrid Solberg" << tail                                 // 1
         << "\"O'Brien, \"\"Siobhán\"\"\"" << tail                   // 2: quotes and a comma
         << "\"Ann\r\nLee\"" << tail                                 // 3: a return inside the name
         << "../../etc/passwd" << tail                               // 4
         << "-rf \\ \"\"quoted\"\"" << tail                          // 5: leading dash, backslash, quotes
         << "" << tail                                               // 6: no name
         << "\n"                                                     // 7: an empty row
         << std::string(100, 'x') << "Ö" << tail                     // 8: too long a name
         << "Fails Plan,Oslo,f@example.org,NoSuchPlan,Norway,yes\n"  // 9: a value the form refuses
         << ".hidden" << tail                                        // 10
         << "\"Tab\tIn\"" << tail;                                   // 11
    for (int i = 12; i <= 112; ++i) rows << scripts[static_cast<std::size_t>(i) % scripts.size()] << " " << i << tail;
    rows << "Ingrid Solberg" << tail;  // 113: the same name as record 1
    std::ofstream(csv) << rows.str();

    const fs::path out = box.root() / "out";
    const e2e::Run r = mergeSh(box, {"--out", out.string(), csv.string()});
    EXPECT_EQ(r.status, 1) << "a failed record fails the run\n" << r.out;
    EXPECT_NE(r.out.find("Mail merge: 113 records, 111 files written, 1 failed, 1 skipped, "), std::string::npos)
        << r.out;
    const std::regex failure(R"(record 9 \(Fails Plan\): Torv_SetPDFFieldValue \( "plan" \) failed: -\d+ .+)");
    EXPECT_TRUE(std::regex_search(r.out, failure)) << r.out;

    // Names: three digits, made safe, never colliding; no file for the failed or skipped record.
    const auto files = pdfsIn(out);
    EXPECT_EQ(files.size(), 111u);
    for (const char* name : {"001-Ingrid-Solberg.pdf", "002-OBrien-Siobhán.pdf", "003-Ann-Lee.pdf",
                             "004-etc-passwd.pdf", "005-rf-quoted.pdf", "006.pdf", "010-hidden.pdf", "011-Tab-In.pdf",
                             "113-Ingrid-Solberg.pdf", "021-ܐܪܡܝܐ-21.pdf", "030-محمد-العلي-30.pdf"})
        EXPECT_EQ(files.count(name), 1u) << name;
    EXPECT_EQ(files.count("008-" + std::string(48, 'x') + ".pdf"), 1u) << "a long name is cut to 48 characters";
    const std::regex safe(R"(^\d{3}(-[^-./\\"][^/\\"]*)?\.pdf$)");
    for (const auto& f : files) {
        EXPECT_TRUE(std::regex_match(f, safe)) << f;
        EXPECT_EQ(f.find_first_of(std::string("\x01\x02\t\n\r\x1f", 6)), std::string::npos) << f;
        EXPECT_FALSE(f.rfind("007", 0) == 0 || f.rfind("009", 0) == 0) << f;
    }

    // The files hold their records: the name as the form's field and as the page's text.
    const Filled arabic = readBack(out / "030-محمد-العلي-30.pdf");
    EXPECT_EQ(arabic.values.at("applicant.name"), "محمد العلي 30");
    const e2e::Run text = run({"/usr/bin/pdftotext", "-q", (out / "002-OBrien-Siobhán.pdf").string(), "-"});
    EXPECT_NE(text.out.find("O'Brien, \"Siobhán\""), std::string::npos) << text.out;

    // failures.csv: the header and the one failed record.
    const auto lines = csvLines(out / "failures.csv");
    ASSERT_EQ(lines.size(), 2u) << slurp(out / "failures.csv");
    EXPECT_EQ(lines[0], "record,name,call,code,message");
    EXPECT_EQ(lines[1].rfind("9,Fails Plan,\"Torv_SetPDFFieldValue ( \"\"plan\"\" )\",-", 0), 0u) << lines[1];

    // Six sheets of 4×5, the last with 13 cells; every record a thumbnail or a tile, every cell labelled.
    for (int s = 1; s <= 6; ++s) EXPECT_TRUE(fs::exists(out / ("contact-sheet-0" + std::to_string(s) + ".png"))) << s;
    EXPECT_FALSE(fs::exists(out / "contact-sheet-07.png"));
    const Sheet first(out / "contact-sheet-01.png"), last(out / "contact-sheet-06.png");
    ASSERT_TRUE(first.ok() && last.ok());
    EXPECT_EQ(first.width(), 4 * kCellW + kGap);
    EXPECT_EQ(first.height(), 5 * kCellH + kGap);
    EXPECT_EQ(last.height(), 4 * kCellH + kGap) << "13 cells take four rows";
    auto thumb = [&](int cell, auto pick) {
        const int x = kGap + (cell % 4) * kCellW, y = kGap + (cell / 4) * kCellH;
        return first.share(x + 2, y + 2, kThumbW - 4, kThumbH - 4, pick);
    };
    auto labelInk = [&](const Sheet& sheet, int cell) {
        const int x = kGap + (cell % 4) * kCellW, y = kGap + (cell / 4) * kCellH + kThumbH + 6;
        return sheet.share(x, y, kThumbW, 22, ink) + sheet.share(x, y, kThumbW, 22, red);
    };
    for (int cell : {0, 1, 2, 3, 4, 5, 7, 9, 10}) {
        EXPECT_GT(thumb(cell, white), 0.5) << "record " << cell + 1 << " shows its page";
        EXPECT_GT(thumb(cell, ink), 0.02) << "record " << cell + 1 << " shows its page's heading and fields";
    }
    EXPECT_GT(thumb(8, red), 0.6) << "the failed record 9 is a red tile";
    EXPECT_GT(thumb(6, grey), 0.6) << "the skipped record 7 is a grey tile";
    for (int cell = 0; cell < 20; ++cell) EXPECT_GT(labelInk(first, cell), 0.02) << "label of record " << cell + 1;
    for (int cell = 0; cell < 13; ++cell) EXPECT_GT(labelInk(last, cell), 0.02) << "label of record " << cell + 101;
    EXPECT_EQ(last.share(kGap + 1 * kCellW, kGap + 3 * kCellH, kThumbW, kThumbH, white), 0.0) << "no 14th cell";
}

TEST(MailMerge, ReadsTheFilesSpreadsheetsSaveAndNamesTheLineOfABadOne) {
    Sandbox box;
    const fs::path in = box.root() / "in", out = box.root() / "out";
    fs::create_directories(in);
    const std::string header = "Name;City;Email;Plan;Country;Agree\r\n";
    // UTF-16 LE with its byte-order mark and semicolons, as a spreadsheet's "Unicode text" export.
    {
        const std::u16string text =
            u"Name;City;Email;Plan;Country;Agree\r\n東京 花子;Tōkyō;h@example.jp;Basic;Japan;yes\r\n";
        std::string bytes = "\xFF\xFE";
        for (char16_t u : text) bytes += std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        std::ofstream(in / "utf16.csv", std::ios::binary) << bytes;
    }
    std::ofstream(in / "latin1.csv", std::ios::binary) << header << "Ann;Oslo;a@x.no;Basic;Norway;yes\r\n"
                                                       << "S\xE9verine;Li\xE8ge;s@x.be;Premium;Belgium;no\r\n";
    std::ofstream(in / "short.csv") << header << "Ann;Oslo;a@x.no;Basic;Norway;yes\r\nBo;Lund;b@x.se;Basic;Sweden\r\n";

    e2e::Run r = mergeSh(box, {"--out", out.string(), (in / "utf16.csv").string()});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(pdfsIn(out), (std::set<std::string>{"1-東京-花子.pdf"})) << r.out;
    EXPECT_EQ(readBack(out / "1-東京-花子.pdf").values.at("applicant.city"), "Tōkyō");

    r = mergeSh(box, {"--out", out.string(), (in / "latin1.csv").string()});
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("latin1, line 3, column 2: the byte 0xE9 is not UTF-8; if the file was saved as Windows or "
                         "Latin-1 text, load it with --encoding windows-1252 or --encoding latin-1"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(pdfsIn(out), (std::set<std::string>{"1-東京-花子.pdf"}))
        << "nothing is merged from a file that did not load, and the last merge's files stay";
    r = mergeSh(box, {"--combined", "--out", out.string(), "--encoding", "latin-1", (in / "latin1.csv").string()});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(pdfsIn(out), (std::set<std::string>{"1-Ann.pdf", "2-Séverine.pdf", "all.pdf"})) << r.out;
    EXPECT_EQ(pagesOf(out / "all.pdf"), 2) << "--combined: every filled form in one file";

    r = mergeSh(box, {"--out", out.string(), (in / "short.csv").string()});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("record 2 (Bo): CSV line 3: 5 fields, but the header names 6 (fields separated by \";\")"),
              std::string::npos)
        << r.out;

    // Run by hand without --table, a file not named members says which tables it did load.
    // (errors go to standard error, gathered here with the output)
    r = run({"/bin/bash", "-c", "exec \"$0\" \"$@\" 2>&1", buildDir() + "/bin/filemaker-host", "run",
             example("merge.fmscript"), "--records", (in / "utf16.csv").string(), "--parameter", example("form.pdf"),
             "--parameter", out.string()},
            box.environment());
    EXPECT_NE(r.out.find("there is no table named members; the tables loaded are utf16"), std::string::npos) << r.out;
}

}  // namespace
