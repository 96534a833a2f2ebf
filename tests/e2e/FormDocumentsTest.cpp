// What a filled form's file says to other readers, end to end: no request to redraw, no stale
// XFA data, values refused as a viewer refuses them, state names as users write them, and
// pages appended or inserted from a filled form drawn exactly as in their source.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

using namespace e2e;

namespace {

// A copy of `from` changed by `edit`, written into the sandbox.
fs::path variant(Sandbox& box, const fs::path& from, const std::string& name, const std::function<void(QPDF&)>& edit) {
    QPDF q;
    q.processFile(from.c_str());
    edit(q);
    const fs::path out = box.root() / name;
    QPDFWriter w(q, out.c_str());
    w.write();
    return out;
}

// The field of fully qualified name `name` (not one of its widgets, which have no /T).
QPDFObjectHandle field(QPDF& q, const std::string& name) {
    for (auto& f : QPDFAcroFormDocumentHelper(q).getFormFields()) {
        auto h = f.getObjectHandle();
        while (!h.getKey("/T").isString() && h.getKey("/Parent").isDictionary()) h = h.getKey("/Parent");
        if (f.getFullyQualifiedName() == name) return h;
    }
    return QPDFObjectHandle::newNull();
}

struct FormFacts {
    bool needAppearances = false;
    bool xfa = false;
    int textWidgetsWithoutAppearance = 0;  // text and choice widgets
};

FormFacts factsOf(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    QPDFAcroFormDocumentHelper forms(q);
    FormFacts f{forms.getNeedAppearances(), q.getRoot().getKey("/AcroForm").hasKey("/XFA"), 0};
    for (auto& page : QPDFPageDocumentHelper(q).getAllPages())
        for (auto& w : forms.getWidgetAnnotationsForPage(page)) {
            const std::string kind = forms.getFieldForAnnotation(w).getFieldType();
            if ((kind == "/Tx" || kind == "/Ch") && !w.getAppearanceStream("/N").isStream())
                ++f.textWidgetsWithoutAppearance;
        }
    return f;
}

std::string textOf(const fs::path& pdf) {
    return run({"/usr/bin/pdftotext", pdf.string(), "-"}).out;
}

// The grey pixels of one page at 72 dpi.
std::string render(const fs::path& pdf, int page, const fs::path& prefix) {
    const std::string p = std::to_string(page);
    run({"/usr/bin/pdftoppm", "-r", "72", "-gray", "-f", p, "-l", p, "-singlefile", pdf.string(), prefix.string()});
    std::ifstream in(prefix.string() + ".pgm", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};  // the header too: same size, same header
}

// Pixels that differ by more than a quarter of the grey range (-1: not the same size).
long differing(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return -1;
    long n = 0;
    for (std::size_t k = 0; k < a.size(); ++k)
        n += std::abs(static_cast<unsigned char>(a[k]) - static_cast<unsigned char>(b[k])) > 64;
    return n;
}

class FormDocuments : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    void open(const fs::path& pdf) { ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError(); }
    std::string set(const std::string& name, const std::string& value) {
        return fm("Torv_SetPDFFieldValue ( " + lit(name) + " ; " + lit(value) + " )");
    }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

// Forms that ask viewers to draw their fields (LibreOffice's always do) no longer ask once
// saved: every field is drawn here, the ones never set too, so other viewers show what this
// system drew.
TEST_F(FormDocuments, SavedFormsNoLongerAskViewersToDrawTheirFields) {
    struct Row {
        const char* fixture;
        const char* field;  // "" leaves every field as it is
        const char* value;
        bool saveAs;
    };
    const std::vector<Row> rows = {
        {"FormTestFromOo.pdf", "", "", false},
        {"libreoffice-form.pdf", "First Name", "Łódź Αθήνα", true},
        {"form_russian.pdf", "job-title", "Київ Tromsø", true},
        {"form_russian.pdf", "user", "Zoë", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.fixture) + " " + row.field);
        const fs::path pdf = box.copy(fixture(row.fixture), std::string("na-") + row.field + row.fixture);
        ASSERT_TRUE(factsOf(pdf).needAppearances);
        open(pdf);
        if (*row.field) {
            EXPECT_EQ(set(row.field, row.value), "0") << fm.lastError();
        }
        const fs::path out = row.saveAs ? box.root() / (std::string("saved-") + row.field + row.fixture) : pdf;
        EXPECT_EQ(fm(row.saveAs ? "Torv_SaveAsPDF ( " + lit(out) + " )" : std::string("Torv_SavePDF")), "0")
            << fm.lastError();
        EXPECT_EQ(fm("Torv_ClosePDF"), "0");
        const FormFacts facts = factsOf(out);
        EXPECT_FALSE(facts.needAppearances);
        EXPECT_EQ(facts.textWidgetsWithoutAppearance, 0);
        if (*row.field) {
            EXPECT_NE(textOf(out).find(row.value), std::string::npos) << textOf(out);
        }
        EXPECT_EQ(run({"/usr/bin/qpdf", "--check", out.string()}).status, 0);
    }
}

// An XFA form filled here loses its XFA copy of the form, which XFA-aware viewers would show
// with the old data; a form saved without a new value keeps it.
TEST_F(FormDocuments, XfaDataGoesWhenValuesWereSet) {
    const std::string name = "topmostSubform[0].Page1[0].NOMBRE[0]";
    for (bool fill : {true, false}) {
        SCOPED_TRACE(fill ? "filled" : "untouched");
        const fs::path pdf = box.copy(fixture("bug1815476.pdf"), fill ? "xfa-filled.pdf" : "xfa-untouched.pdf");
        ASSERT_TRUE(factsOf(pdf).xfa);
        open(pdf);
        if (fill) {
            EXPECT_EQ(set(name, "Ana Belén"), "0") << fm.lastError();
        }
        const fs::path out = box.root() / (std::string("saved-") + (fill ? "filled" : "untouched") + ".pdf");
        EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(out) + " )"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_ClosePDF"), "0");
        EXPECT_EQ(factsOf(out).xfa, !fill);
        if (fill) {
            EXPECT_NE(textOf(out).find("Ana Belén"), std::string::npos);
        }
    }
}

// Values as a viewer takes them: no more characters than /MaxLen, state names written as
// their users read them (or as the file spells them, #xx escapes and all), a password drawn as
// bullets.
TEST_F(FormDocuments, ValuesAreTakenAsAViewerTakesThem) {
    const std::string arabic = "الذكر", chinese = "男性";
    const fs::path pdf = variant(box, example("form.pdf"), "rules.pdf", [&](QPDF& q) {
        field(q, "applicant.name").replaceKey("/MaxLen", QPDFObjectHandle::newInteger(5));
        field(q, "applicant.city").replaceKey("/Ff", QPDFObjectHandle::newInteger(8192));
        auto kids = field(q, "plan").getKey("/Kids");
        const std::string names[] = {arabic, chinese};
        for (int k = 0; k < 2; ++k) {
            auto ap = kids.getArrayItem(k).getKey("/AP");
            for (const char* which : {"/N", "/D"}) {
                auto states = ap.getKey(which);
                if (!states.isDictionary()) continue;
                for (auto& key : states.getKeys())
                    if (key != "/Off") {
                        states.replaceKey("/" + names[k], states.getKey(key));
                        states.removeKey(key);
                    }
            }
        }
    });
    open(pdf);
    struct Row {
        const char* field;
        std::string value;
        std::string answer;    // of the set
        std::string readBack;  // "" when the set is refused
        const char* why;       // words of the refusal
    };
    const std::vector<Row> rows = {
        {"applicant.name", "Ann12", "0", "Ann12", ""},
        {"applicant.name", "Ann123", "!!ERROR!!", "", "at most 5"},
        {"applicant.name", "Łódź!", "0", "Łódź!", ""},  // characters, not bytes
        {"applicant.name", "😀😀😀😀😀😀", "!!ERROR!!", "", "at most 5"},
        {"plan", arabic, "0", arabic, ""},
        {"plan", chinese, "0", chinese, ""},
        {"plan", "#d8#a7#d9#84#d8#b0#d9#83#d8#b1", "0", arabic, ""},
        {"plan", "女性", "!!ERROR!!", "", chinese.c_str()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(set(row.field, row.value), row.answer) << fm.lastError();
        if (row.readBack.empty()) {
            EXPECT_EQ(fm.lastErrorNumber(), "-1116");
            EXPECT_NE(fm.lastError().find(row.why), std::string::npos) << fm.lastError();
        } else {
            EXPECT_EQ(fm("Torv_GetPDFFieldValue ( " + lit(row.field) + " )"), row.readBack);
        }
    }
    EXPECT_EQ(set("applicant.city", "secret"), "0") << fm.lastError();
    const fs::path out = box.root() / "rules-saved.pdf";
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(out) + " )"), "0") << fm.lastError();
    const std::string text = textOf(out);
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    EXPECT_NE(text.find("••••••"), std::string::npos) << text;
    EXPECT_NE(text.find("Łódź!"), std::string::npos) << text;  // the refused values left it as it was
}

// A form filled again and again, as a merge fills it, is read ahead of each next open; a form
// changed on disk between records is read as it is now, in place or replaced.
TEST_F(FormDocuments, AFormChangedBetweenRecordsIsReadAnew) {
    const fs::path form = variant(box, example("form.pdf"), "template.pdf", [](QPDF&) {});
    const auto withCity = [&](const std::string& city) {
        return [&, city](QPDF& q) {
            field(q, "applicant.city").replaceKey("/V", QPDFObjectHandle::newUnicodeString(city));
        };
    };
    std::string expected;
    for (int k = 1; k <= 6; ++k) {
        SCOPED_TRACE(k);
        if (k == 4) {
            variant(box, form, "template.pdf", withCity("Bergen"));  // written over in place
            expected = "Bergen";
        } else if (k == 6) {
            fs::rename(variant(box, form, "next.pdf", withCity("Tromsø")), form);  // replaced
            expected = "Tromsø";
        }
        open(form);
        EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"applicant.city\" )"), expected);
        EXPECT_EQ(set("applicant.name", "Member " + std::to_string(k)), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(box.root() / ("out-" + std::to_string(k) + ".pdf")) + " )"), "0")
            << fm.lastError();
        EXPECT_EQ(fm("Torv_ClosePDF"), "0") << fm.lastError();
    }
}

// Pages appended or inserted from a filled form look exactly like their source, check marks
// and radio dots included, though the two forms' resources share names (/ZaDb, /Helv) and
// are renamed in the result.
TEST_F(FormDocuments, AppendedAndInsertedPagesLookLikeTheirSources) {
    const fs::path filled = box.root() / "filled.pdf";
    open(box.copy(example("form.pdf")));
    for (auto [name, value] : {std::pair{"applicant.name", "Ann Example"}, {"agree", "Ja"}, {"plan", "Premium"}})
        ASSERT_EQ(set(name, value), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SaveAsPDF ( " + lit(filled) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    const std::string source = render(filled, 1, box.root() / "source");
    ASSERT_GT(differing(source, std::string(source.size(), '\xFF')), 1000);  // ink on the page

    // The target's own resources share the source's names (/ZaDb, /Helv): the copies' are renamed.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"append", "Torv_AppendPDF ( " + lit(filled) + " )"},
        {"insert", "Torv_InsertPages ( 1 ; " + lit(filled) + " ; 1 ; 1 ; \"false\" )"},
    };
    for (const auto& [how, call] : rows) {
        SCOPED_TRACE(how);
        const fs::path target = box.copy(fixture("AcroFormsBasicFields.pdf"), how + ".pdf");
        const std::string before = render(target, 1, box.root() / "target");
        open(target);
        ASSERT_EQ(fm(call), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
        ASSERT_EQ(pagesOf(target), 2);
        EXPECT_EQ(differing(render(target, 2, box.root() / "copied"), source), 0);
        EXPECT_EQ(differing(render(target, 1, box.root() / "own"), before), 0);
    }
}

}  // namespace

namespace {

// Sets an environment variable for the processes started while it lives.
struct ScopedEnv {
    std::string name;
    ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() { ::unsetenv(name.c_str()); }
};

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

// A save that outlasts the caller's wait is answered with an error, and then the file stays as
// it was: the answer is true. The caller waits 2 s here, and each save takes 4 s before its
// rename (a slow disk, stood in for by the application's test option); a save that stays
// within the wait is put in place.
TEST(FormDocumentsLate, AnErrorAnsweredLeavesTheFileAsItWas) {
    struct Row {
        const char* delayMs;
        bool late;
    };
    for (const Row& row : {Row{"4000", true}, Row{"100", false}}) {
        SCOPED_TRACE(row.delayMs);
        Sandbox box;
        std::unique_ptr<FmSession> session;
        {
            ScopedEnv limit("QUILLMARK_REPLY_TIMEOUT_TICKS", "120");
            ScopedEnv delay("QUILLMARK_ACROBAT_SAVE_DELAY_MS", row.delayMs);
            session = std::make_unique<FmSession>(box);
        }
        FmSession& fm = *session;
        const fs::path pdf = box.copy(example("form.pdf"), "late.pdf");
        const std::string before = bytesOf(pdf);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_SetPDFFieldValue ( \"applicant.name\" ; \"Ann Late\" )"), "0") << fm.lastError();
        const Result saved = fm.eval("Torv_SavePDF");
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(row.delayMs)));  // the save is over
        EXPECT_EQ(fm("Torv_ClosePDF"), "0") << fm.lastError();
        EXPECT_EQ(saved.isError(), row.late) << saved.value;
        if (saved.isError()) {
            EXPECT_TRUE(bytesOf(pdf) == before) << "an error was answered, and the file was replaced";
        } else {
            EXPECT_FALSE(bytesOf(pdf) == before);
            EXPECT_NE(textOf(pdf).find("Ann Late"), std::string::npos);
        }
        std::vector<std::string> left;
        for (auto& e : fs::directory_iterator(box.root()))
            if (e.path().filename().string().find("saving-") != std::string::npos) left.push_back(e.path());
        EXPECT_TRUE(left.empty());
    }
}
