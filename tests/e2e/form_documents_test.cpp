// What a filled form's file says to other readers, end to end: no request to redraw, no stale
// XFA data, values refused as a viewer refuses them, state names as users write them, and
// pages appended or inserted from a filled form drawn exactly as in their source.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <fstream>
#include <functional>

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

// The terminal field named `name` (partial names joined with ".").
QPDFObjectHandle field(QPDF& q, const std::string& name) {
    std::function<QPDFObjectHandle(QPDFObjectHandle, const std::string&)> find = [&](QPDFObjectHandle node,
                                                                                     const std::string& base) {
        std::string full = base;
        if (node.getKey("/T").isString())
            full = base.empty() ? node.getKey("/T").getUTF8Value() : base + "." + node.getKey("/T").getUTF8Value();
        if (full == name) return node;
        if (node.getKey("/Kids").isArray())
            for (auto& kid : node.getKey("/Kids").aitems())
                if (auto hit = find(kid, full); !hit.isNull()) return hit;
        return QPDFObjectHandle::newNull();
    };
    for (auto& top : q.getRoot().getKey("/AcroForm").getKey("/Fields").aitems())
        if (auto hit = find(top, ""); !hit.isNull()) return hit;
    return QPDFObjectHandle::newNull();
}

struct FormFacts {
    bool needAppearances = false;
    bool xfa = false;
    int widgetsWithoutAppearance = 0;  // text and choice widgets
};

FormFacts factsOf(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    FormFacts f;
    auto form = q.getRoot().getKey("/AcroForm");
    f.needAppearances = form.getKey("/NeedAppearances").isBool() && form.getKey("/NeedAppearances").getBoolValue();
    f.xfa = form.hasKey("/XFA");
    for (auto page : q.getAllPages()) {
        if (!page.getKey("/Annots").isArray()) continue;
        for (auto annot : page.getKey("/Annots").aitems()) {
            QPDFObjectHandle kind = QPDFObjectHandle::newNull();
            for (auto n = annot; n.isDictionary() && kind.isNull(); n = n.getKey("/Parent")) kind = n.getKey("/FT");
            if (!kind.isName() || (kind.getName() != "/Tx" && kind.getName() != "/Ch")) continue;
            auto ap = annot.getKey("/AP");
            if (!ap.isDictionary() || !ap.getKey("/N").isStream()) ++f.widgetsWithoutAppearance;
        }
    }
    return f;
}

std::string textOf(const fs::path& pdf, int page = 0) {
    std::vector<std::string> argv{"/usr/bin/pdftotext"};
    if (page > 0) argv.insert(argv.end(), {"-f", std::to_string(page), "-l", std::to_string(page)});
    argv.insert(argv.end(), {pdf.string(), "-"});
    return run(argv).out;
}

// One page rendered in grey at 72 dpi.
struct Picture {
    int width = 0, height = 0;
    std::string pixels;
};

Picture render(const fs::path& pdf, int page, const fs::path& prefix) {
    const std::string p = std::to_string(page);
    run({"/usr/bin/pdftoppm", "-r", "72", "-gray", "-f", p, "-l", p, "-singlefile", pdf.string(), prefix.string()});
    std::ifstream in(prefix.string() + ".pgm", std::ios::binary);
    Picture pic;
    std::string magic;
    int maxval = 0;
    in >> magic >> pic.width >> pic.height >> maxval;
    in.get();
    pic.pixels.assign(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height), '\0');
    in.read(pic.pixels.data(), static_cast<std::streamsize>(pic.pixels.size()));
    return pic;
}

// Pixels that differ by more than a quarter of the grey range.
long differing(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.empty()) return -1;
    long n = 0;
    for (std::size_t k = 0; k < a.pixels.size(); ++k)
        if (std::abs(static_cast<int>(static_cast<unsigned char>(a.pixels[k])) -
                     static_cast<int>(static_cast<unsigned char>(b.pixels[k]))) > 64)
            ++n;
    return n;
}

long ink(const Picture& a) {
    long n = 0;
    for (char c : a.pixels) n += static_cast<unsigned char>(c) < 128;
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
        EXPECT_EQ(facts.widgetsWithoutAppearance, 0);
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
    const Picture source = render(filled, 1, box.root() / "source");
    ASSERT_GT(ink(source), 0);

    struct Row {
        const char* how;
        std::string call;
        int page;  // where the source page lands
    };
    const std::vector<Row> rows = {
        {"append", "Torv_AppendPDF ( " + lit(filled) + " )", 2},
        {"insert", "Torv_InsertPages ( 1 ; " + lit(filled) + " ; 1 ; 1 ; \"false\" )", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        const fs::path target = box.copy(fixture("AcroFormsBasicFields.pdf"), std::string(row.how) + ".pdf");
        const Picture before = render(target, 1, box.root() / "target");
        open(target);
        ASSERT_EQ(fm(row.call), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
        ASSERT_EQ(pagesOf(target), 2);
        const Picture copied = render(target, row.page, box.root() / "copied");
        EXPECT_EQ(differing(copied, source), 0) << "ink " << ink(copied) << " against " << ink(source);
        const Picture own = render(target, row.page == 1 ? 2 : 1, box.root() / "own");
        EXPECT_EQ(differing(own, before), 0);
    }
}

}  // namespace
