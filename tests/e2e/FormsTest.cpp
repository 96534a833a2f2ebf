// Forms end to end: list, read and fill form fields through filemaker-host
// and a real acrobat-host, checked against an independent reading of the
// files with libqpdf and pdftk.
#include "Harness.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QUtil.hh>

#include <cctype>
#include <fstream>
#include <set>

using namespace e2e;

namespace {

struct Field {
    std::string name;
    std::string kind;
    QPDFObjectHandle dict;
    bool isString = false;  // its /V is a string (text and choice values)
    bool isName = false;    // its /V is a name (button states)
    std::string value;
};

// Every field of the field tree in tree order whose own /FT is Tx, Ch or Btn,
// with its fully qualified name: the walk's rules, read independently. A kid
// without a /T of its own is a widget of the field above it, not a field.
void collect(QPDFObjectHandle node, const std::string& prefix, std::vector<Field>& out, std::set<QPDFObjGen>& seen,
             bool top = true) {
    if (!node.isDictionary() || !seen.insert(node.getObjGen()).second) return;
    if (!top && !node.getKey("/T").isString()) return;
    std::string name = prefix;
    if (node.getKey("/T").isString()) {
        const std::string t = node.getKey("/T").getUTF8Value();
        name = prefix.empty() ? t : prefix + "." + t;
    }
    auto ft = node.getKey("/FT");
    if (ft.isName() && (ft.getName() == "/Tx" || ft.getName() == "/Ch" || ft.getName() == "/Btn"))
        out.push_back({name, ft.getName().substr(1), node});
    auto kids = node.getKey("/Kids");
    if (kids.isArray())
        for (auto& kid : kids.aitems()) collect(kid, name, out, seen, false);
}

// A name's bytes: qpdf hands names out with "#xx" escapes for bytes outside printable ASCII.
std::string nameBytes(const std::string& name) {
    std::string out;
    for (std::size_t k = 0; k < name.size(); ++k) {
        bool escape = name[k] == '#' && k + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[k + 1]));
        out += escape ? QUtil::hex_decode(name.substr(k + 1, 2)) : name.substr(k, 1);
        k += escape ? 2 : 0;
    }
    return out;
}

std::vector<Field> fieldsOf(const fs::path& pdf) {
    QPDF q;
    q.setSuppressWarnings(true);
    q.processFile(pdf.c_str());
    std::vector<Field> out;
    std::set<QPDFObjGen> seen;
    auto acro = q.getRoot().getKey("/AcroForm");
    if (acro.isDictionary() && acro.getKey("/Fields").isArray())
        for (auto& f : acro.getKey("/Fields").aitems()) collect(f, "", out, seen);
    // Values must be read while the QPDF object lives: turn them into text now.
    for (auto& f : out) {
        auto v = f.dict.getKey("/V");
        f.isString = v.isString();
        f.isName = v.isName();
        f.value = f.isString ? v.getUTF8Value() : f.isName ? nameBytes(v.getName().substr(1)) : "";
        f.dict = QPDFObjectHandle::newNull();
    }
    return out;
}

std::string valueText(const Field& f) {
    if (f.kind == "Btn") return f.isName ? f.value : "";
    return f.isString ? f.value : "";
}

std::string pdftkValue(const fs::path& pdf, const std::string& field) {
    auto r = run({"/usr/bin/pdftk", pdf.string(), "dump_data_fields_utf8"});
    const std::string marker = "FieldName: " + field + "\n";
    auto pos = r.out.find(marker);
    if (pos == std::string::npos) return "<no field>";
    auto end = r.out.find("---", pos);
    auto v = r.out.find("FieldValue: ", pos);
    if (v == std::string::npos || v > end) return "";
    auto nl = r.out.find('\n', v);
    return r.out.substr(v + 12, nl - v - 12);
}

class Forms : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    void open(const fs::path& pdf) { ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError(); }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

TEST_F(Forms, NamesListMatchesAnIndependentReadingOfEveryFixtureForm) {
    for (const char* name :
         {"AcroForm_TEST_compiled.pdf", "issue17492.pdf", "FormTestFromOo.pdf", "sample_form.pdf",
          "AcroFormsBasicFields.pdf", "form-fields-and-annotations-shared.pdf", "ukrainian.pdf", "create_form.pdf",
          "form-utf8.pdf", "libreoffice-form.pdf", "bug1815476.pdf", "DifferentDALevels.pdf"}) {
        SCOPED_TRACE(name);
        const fs::path pdf = box.copy(fixture(name));
        const auto fields = fieldsOf(pdf);
        std::string names, withValues;
        for (auto const& f : fields) {
            names += f.name + "\r";
            withValues += f.name + ":|:" + valueText(f) + "\r";
        }
        open(pdf);
        EXPECT_EQ(fm("Torv_GetFieldNames"), names);
        EXPECT_EQ(fm("Torv_GetFieldNames ( \"y\" )"), withValues);
        for (auto const& f : fields) {
            if (f.kind == "Btn" && !f.isName) continue;
            SCOPED_TRACE(f.name);
            if (f.name.find(":|:") != std::string::npos) continue;
            const auto got = fm.eval("Torv_GetPDFFieldValue ( " + lit(f.name) + " )");
            if (valueText(f) == "-1" || valueText(f) == "-2") continue;
            EXPECT_EQ(got.value, valueText(f));
        }
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    }
}

// pdfcpu's forms name their radio states in UTF-8: set by its text or its #xx form, read back
// and named in errors as text (Hebrew with points, Japanese).
TEST_F(Forms, StatesNamedInUtf8AreText) {
    struct Case {
        const char* file;
        const char* text;
        const char* escaped;
    } const cases[] = {
        {"hebrew.pdf", "\xD7\x96\xD6\xB8\xD7\x9B\xD6\xB8\xD7\xA8", "#d7#96#d6#b8#d7#9b#d6#b8#d7#a8"},
        {"japanese.pdf", "\xE7\x94\xB7", "#e7#94#b7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        open(box.copy(fixture(c.file)));
        EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"gender1\" ; \"" + std::string(c.escaped) + "\" )"), "0")
            << fm.lastError();
        EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"gender1\" )"), c.text);
        EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"gender1\" ; \"" + std::string(c.text) + "\" )"), "0");
        EXPECT_NE(fm("Torv_GetFieldNames ( \"y\" )").find(std::string("gender1:|:") + c.text), std::string::npos);
        EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"gender1\" ; \"x\" )"), "!!ERROR!!");
        EXPECT_NE(fm.lastError().find(c.text), std::string::npos) << fm.lastError();
        EXPECT_EQ(fm.lastError().find('#'), std::string::npos) << fm.lastError();
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    }
}

TEST_F(Forms, FlagFormsOfTheNamesList) {
    open(box.copy(example("form.pdf")));
    const std::string names = fm("Torv_GetFieldNames");
    EXPECT_EQ(names, "applicant.name\rapplicant.city\remail\ragree\rplan\rcountry\r");
    for (auto flag : {"t", "T", "y", "Y", "1"})
        EXPECT_NE(fm(std::string("Torv_GetFieldNames ( \"") + flag + "\" )"), names) << flag;
    for (auto flag : {"", "0", "n", "true", "yes"})
        EXPECT_EQ(fm(std::string("Torv_GetFieldNames ( \"") + flag + "\" )"), names) << flag;
    EXPECT_EQ(fm("Torv_GetFieldNames ( \"y\" )"),
              "applicant.name:|:\rapplicant.city:|:\remail:|:\ragree:|:Off\rplan:|:Off\rcountry:|:\r");
}

TEST_F(Forms, FillSaveAndReadBackWithAnotherReader) {
    const fs::path form = box.copy(example("form.pdf"));
    open(form);
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"applicant.name\" ; \"Ann Example\" )"), "0");
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"applicant.city\" ; \"Tromsø – Київ 東京\" )"), "0");
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"agree\" ; \"Ja\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"plan\" ; \"Premium\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"country\" ; \"Norway\" )"), "0");
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"email\" ; \"\" )"), "0");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"applicant.name\" )"), "Ann Example");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"applicant.city\" )"), "Tromsø – Київ 東京");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"agree\" )"), "Ja");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"plan\" )"), "Premium");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"email\" )"), "");

    // A state the check box does not have is refused, naming its states.
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"agree\" ; \"Yes\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1116");
    const std::string why = fm.lastError();
    EXPECT_EQ(why.rfind("Undefined Error. ", 0), 0u) << why;
    EXPECT_NE(why.find("Ja"), std::string::npos) << why;
    EXPECT_NE(why.find("Off"), std::string::npos) << why;
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"agree\" )"), "Ja");

    const fs::path saved = box.root() / "filled.pdf";
    ASSERT_EQ(fm("Torv_SaveAsPDF ( " + lit(saved) + " )"), "0") << fm.lastError();
    EXPECT_EQ(pdftkValue(saved, "applicant.name"), "Ann Example");
    EXPECT_EQ(pdftkValue(saved, "applicant.city"), "Tromsø – Київ 東京");
    EXPECT_EQ(pdftkValue(saved, "country"), "Norway");
    EXPECT_EQ(pdftkValue(saved, "agree"), "Ja");
    EXPECT_EQ(pdftkValue(saved, "plan"), "Premium");

    // Every widget's appearance state follows the button's value.
    QPDF q;
    q.processFile(saved.c_str());
    int onWidgets = 0;
    for (auto page : q.getAllPages())
        for (auto& annot : page.getKey("/Annots").aitems()) {
            auto as = annot.getKey("/AS");
            if (as.isName() && (as.getName() == "/Ja" || as.getName() == "/Premium")) ++onWidgets;
            if (as.isName() && as.getName() == "/Basic") ADD_FAILURE() << "Basic still on";
        }
    EXPECT_EQ(onWidgets, 2);
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", saved.string()}).status, 0);
}

TEST_F(Forms, NamesAndErrors) {
    open(box.copy(example("form.pdf")));
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"name\" )"), "!!ERROR!!");  // a partial name finds nothing
    EXPECT_EQ(fm.lastError(), "Field name not found.");
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"nosuch\" ; \"x\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1101");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1105");
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"\" ; \"x\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-4");
    // A value that reads as a status text.
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"email\" ; \"-2\" )"), "0");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"email\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1101");
}

TEST_F(Forms, DocumentsWithoutUsableFields) {
    for (const char* name : {"text.pdf", "with_signature.pdf"}) {
        SCOPED_TRACE(name);
        open(box.copy(fixture(name)));
        EXPECT_EQ(fm("Torv_GetFieldNames"), "!!ERROR!!");
        EXPECT_EQ(fm.lastError(), "GetFieldNames found no fields in the open PDF.");
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    }
}

TEST_F(Forms, DuplicateFullNamesActOnTheFirst) {
    const fs::path pdf = box.copy(fixture("form-fields-and-annotations-shared.pdf"));
    const auto fields = fieldsOf(pdf);
    int count = 0;
    for (auto const& f : fields) count += f.name == "Text Box 1";
    ASSERT_GE(count, 2);
    open(pdf);
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"Text Box 1\" ; \"first\" )"), "0");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"Text Box 1\" )"), "first");
}

// A radio group whose widgets are kids with a /T-less /FT of their own is one field: listed
// once, set and read under the group's name, and the choice survives a save.
TEST_F(Forms, RadioGroupWithWidgetKidsIsOneField) {
    const fs::path pdf = box.copy(fixture("form-fields-and-annotations-shared.pdf"));
    open(pdf);
    const std::string names = fm("Torv_GetFieldNames ( \"y\" )");
    EXPECT_EQ(names.find("r1:|:2\r"), names.rfind("r1:"));
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"r1\" ; \"3\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"r1\" )"), "3");
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(pdftkValue(pdf, "r1"), "3");
}

TEST_F(Forms, MultiSelectListIsFoundWithoutAValue) {
    open(box.copy(fixture("AcroForm_TEST_compiled.pdf")));
    const std::string list = fm("Torv_GetFieldNames ( \"y\" )");
    const auto fields = fieldsOf(box.root() / "AcroForm_TEST_compiled.pdf");
    for (auto const& f : fields) {
        if (f.kind != "Ch" || f.isString) continue;
        SCOPED_TRACE(f.name);
        EXPECT_NE(list.find(f.name + ":|:\r"), std::string::npos);
        EXPECT_EQ(fm.eval("Torv_GetPDFFieldValue ( " + lit(f.name) + " )").value, "");
    }
}

}  // namespace
