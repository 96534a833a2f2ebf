// Form-field engine: the walk, values, setting by state name, reset, and saving over real forms.
#include "quill/pdf/Forms.h"
#include "ObjectHandles.h"
#include "RunProgram.h"
#include "TempDir.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using quill::pdf::FormFields;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";
const std::string kTruth = std::string(QUILL_FIXTURES_DIR) + "/truth/";

// Fixture forms that open without a user password.
const std::vector<std::string> kForms = {"AcroForm_TEST_compiled.pdf",
                                         "issue17492.pdf",
                                         "FormTestFromOo.pdf",
                                         "sample_form.pdf",
                                         "AcroFormsBasicFields.pdf",
                                         "form-fields-and-annotations-shared.pdf",
                                         "ukrainian.pdf",
                                         "create_form.pdf",
                                         "form-utf8.pdf",
                                         "libreoffice-form.pdf",
                                         "with_signature.pdf",
                                         "bug1815476.pdf",
                                         "DifferentDALevels.pdf",
                                         "sample2.pdf"};

struct TempDir : quill::testsupport::TempDir {
    TempDir() : quill::testsupport::TempDir("engine_forms") {}
};

std::unique_ptr<QPDF> open(const std::string& path) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processFile(path.c_str());
    return pdf;
}

void save(QPDF& pdf, const std::string& path) {
    QPDFWriter w(pdf, path.c_str());
    w.setStaticID(true);
    w.write();
}

std::string utf8(const std::u16string& s) {
    return quill::pdf::utf16ToUtf8(s);
}

// The walk's rules read independently: every node under /Fields in tree order, listed when
// its own /FT is Tx, Ch or Btn; names are the /T partials joined with ".".
void independentNames(QPDFObjectHandle node, const std::string& base, std::set<QPDFObjGen>& seen,
                      std::vector<std::string>& out) {
    if (!node.isDictionary()) return;
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second) return;
    std::string name = base;
    if (node.getKey("/T").isString()) {
        std::string partial = node.getKey("/T").getUTF8Value();
        name = base.empty() ? partial : base + "." + partial;
    }
    auto ft = node.getKey("/FT");
    if (ft.isName() && (ft.getName() == "/Tx" || ft.getName() == "/Ch" || ft.getName() == "/Btn")) out.push_back(name);
    if (node.getKey("/Kids").isArray())
        for (auto& kid : node.getKey("/Kids").aitems()) independentNames(kid, name, seen, out);
}

std::vector<std::string> listedNames(const FormFields& forms) {
    std::vector<std::string> out;
    for (auto& f : forms.fields())
        if (f.ownKind == "Tx" || f.ownKind == "Ch" || f.ownKind == "Btn") out.push_back(utf8(f.fullName));
    return out;
}

// A program's standard output (run without a shell).
std::string run(const std::vector<std::string>& argv) {
    std::string out;
    quill::testsupport::runProgram(argv, &out);
    return out;
}

// pdftk's reading of a saved file: full name -> value.
std::map<std::string, std::string> pdftkValues(const std::string& path) {
    std::map<std::string, std::string> values;
    std::istringstream in(run({"pdftk", path, "dump_data_fields_utf8"}));
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.rfind("FieldName: ", 0) == 0) name = line.substr(11);
        if (line.rfind("FieldValue: ", 0) == 0 && !values.count(name)) values[name] = line.substr(12);
    }
    return values;
}

// A small form of our own: text "name" (DV "Anon"), check box "agree" whose on-state is Ja,
// radio group "size" with kids S and L (V /L, DV /S), a push button, and a Tx parent
// "person" whose kids "first" and "last" inherit their kind.
std::string makeForm(const fs::path& dir) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    auto page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> /Annots [] >>"));
    auto stream = [&](const std::string& data) { return QPDFObjectHandle::newStream(&pdf, data); };
    auto onOff = [&](const std::string& on) {
        auto n = QPDFObjectHandle::newDictionary();
        n.replaceKey("/" + on, stream("0 g 0 0 10 10 re f"));
        n.replaceKey("/Off", stream(""));
        auto ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", n);
        return ap;
    };
    auto fields = QPDFObjectHandle::newArray();
    auto annots = page.getKey("/Annots");
    auto widget = [&](const std::string& text) {
        auto w = pdf.makeIndirectObject(QPDFObjectHandle::parse(text));
        w.replaceKey("/P", page);
        annots.appendItem(w);
        return w;
    };
    auto name = widget(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Old) /DV (Anon) /Rect [10 700 200 720]"
        " /DA (/Helv 10 Tf 0 g) >>");
    fields.appendItem(name);
    // A field drawn with an embedded subset that has glyphs for A and C only.
    auto subset = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Sub /Encoding /WinAnsiEncoding"
                                " /FirstChar 65 /LastChar 67 /Widths [500 0 500] >>"));
    auto descriptor = QPDFObjectHandle::parse("<< /Type /FontDescriptor /FontName /ABCDEF+Sub >>");
    descriptor.replaceKey("/FontFile2", stream("not a real font"));
    subset.replaceKey("/FontDescriptor", descriptor);
    fields.appendItem(
        widget("<< /Type /Annot /Subtype /Widget /FT /Tx /T (code) /Rect [10 690 200 700] /DA (/Sub 9 Tf 0 g) >>"));
    auto agree =
        widget("<< /Type /Annot /Subtype /Widget /FT /Btn /T (agree) /V /Off /AS /Off /Rect [10 670 20 680] >>");
    agree.replaceKey("/AP", onOff("Ja"));
    fields.appendItem(agree);
    auto size =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Btn /Ff 49152 /T (size) /V /L /DV /S /Kids [] >>"));
    for (std::string s : {"S", "L"}) {
        auto kid = widget("<< /Type /Annot /Subtype /Widget /Rect [10 640 20 650] >>");
        kid.replaceKey("/AP", onOff(s));
        kid.replaceKey("/AS", QPDFObjectHandle::newName(s == "L" ? "/L" : "/Off"));
        kid.replaceKey("/Parent", size);
        size.getKey("/Kids").appendItem(kid);
    }
    fields.appendItem(size);
    fields.appendItem(widget("<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 65536 /T (go) /Rect [10 600 60 620] >>"));
    auto person =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Tx /T (person) /DA (/Helv 0 Tf 0 g) /Kids [] >>"));
    for (std::string s : {"first", "last"}) {
        auto kid = widget("<< /Type /Annot /Subtype /Widget /Rect [10 560 200 580] >>");
        kid.replaceKey("/T", QPDFObjectHandle::newString(s));
        kid.replaceKey("/Parent", person);
        person.getKey("/Kids").appendItem(kid);
    }
    fields.appendItem(person);
    auto acroForm = QPDFObjectHandle::newDictionary();
    acroForm.replaceKey("/Fields", fields);
    acroForm.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 0 Tf 0 g"));
    auto dr = QPDFObjectHandle::parse("<< /Font << >> >>");
    dr.getKey("/Font").replaceKey("/Helv", font);
    dr.getKey("/Font").replaceKey("/Sub", subset);
    acroForm.replaceKey("/DR", dr);
    pdf.getRoot().replaceKey("/AcroForm", pdf.makeIndirectObject(acroForm));
    pdf.addPage(page, false);
    std::string path = (dir / "form.pdf").string();
    save(pdf, path);
    return path;
}

std::string appearanceText(QPDFObjectHandle widget) {
    auto n = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N") : QPDFObjectHandle::newNull();
    if (!n.isStream()) return {};
    auto data = n.getStreamData(qpdf_dl_all);
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

}  // namespace

TEST(FormWalk, ListsOwnKindFieldsInTreeOrderLikeAnIndependentReading) {
    for (const auto& file : kForms) {
        SCOPED_TRACE(file);
        auto pdf = open(kPdfs + file);
        FormFields forms(*pdf);
        std::vector<std::string> expected;
        std::set<QPDFObjGen> seen;
        auto top = pdf->getRoot().getKey("/AcroForm").getKey("/Fields");
        if (top.isArray())
            for (auto& f : top.aitems()) independentNames(f, "", seen, expected);
        EXPECT_EQ(listedNames(forms), expected);
    }
}

TEST(FormWalk, TextAndChoiceValuesReadAsTheFileHoldsThem) {
    int compared = 0;
    for (const auto& file : kForms) {
        SCOPED_TRACE(file);
        std::ifstream in(kTruth + file + ".fields.json");
        if (!in) continue;
        auto truth = nlohmann::json::parse(in);
        auto pdf = open(kPdfs + file);
        FormFields forms(*pdf);
        std::map<std::string, std::size_t> byObject;  // "n g R" -> node index
        for (std::size_t i = 0; i < forms.size(); ++i)
            if (forms.fields()[i].dict.isIndirect())
                byObject[forms.fields()[i].dict.getObjGen().unparse(' ') + " R"] = i;
        for (auto& field : truth["acroform"]["fields"]) {
            std::string type = field["fieldtype"];
            if ((type != "/Tx" && type != "/Ch") || !field["value"].is_string()) continue;
            std::string value = field["value"];
            if (value.rfind("u:", 0) != 0) continue;
            auto it = byObject.find(field["object"].get<std::string>());
            ASSERT_NE(it, byObject.end());
            auto v = forms.value(it->second);
            ASSERT_TRUE(v.isString()) << field["fullname"];
            EXPECT_EQ(v.getUTF8Value(), value.substr(2)) << field["fullname"];
            EXPECT_EQ(utf8(forms.fields()[it->second].fullName), field["fullname"].get<std::string>());
            ++compared;
        }
    }
    EXPECT_GT(compared, 30);
}

TEST(FormWalk, HierarchicalAndDuplicateNamesAndArrayValues) {
    auto pdf = open(kPdfs + "create_form.pdf");
    FormFields forms(*pdf);
    EXPECT_GE(forms.find(u"favorite.planet"), 0);
    EXPECT_EQ(forms.find(u"planet"), -1);

    auto shared = open(kPdfs + "form-fields-and-annotations-shared.pdf");
    FormFields dup(*shared);
    int first = dup.find(u"Text Box 1");
    ASSERT_GE(first, 0);
    int second = -1;
    for (std::size_t i = static_cast<std::size_t>(first) + 1; i < dup.size(); ++i)
        if (dup.fields()[i].fullName == u"Text Box 1" && dup.fields()[i].named) second = static_cast<int>(i);
    ASSERT_GT(second, first);
    auto before = dup.value(static_cast<std::size_t>(second)).unparse();
    dup.setValue(static_cast<std::size_t>(first), QPDFObjectHandle::newString("first only"));
    EXPECT_EQ(dup.value(static_cast<std::size_t>(first)).getUTF8Value(), "first only");
    EXPECT_EQ(dup.value(static_cast<std::size_t>(second)).unparse(), before);

    auto multi = open(kPdfs + "AcroForm_TEST_compiled.pdf");
    FormFields lists(*multi);
    bool sawArray = false;
    for (std::size_t i = 0; i < lists.size(); ++i)
        if (lists.fields()[i].ownKind == "Ch" && lists.value(i).isArray()) sawArray = true;
    EXPECT_TRUE(sawArray);
}

TEST(FormWalk, NamesAsPdfTextBytes) {
    EXPECT_EQ(quill::pdf::utf16ToPdfText(u"caf\u00e9.x"), "caf\xe9.x");
    EXPECT_EQ(quill::pdf::utf16ToPdfText(u"\u0416"), std::string("\xFE\xFF\x04\x16", 4));
    EXPECT_EQ(quill::pdf::pdfTextToUtf16(std::string("\xFE\xFF\x04\x16", 4)), u"\u0416");
    EXPECT_EQ(quill::pdf::utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(quill::pdf::utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    // A cut sequence never reads past the end.
    EXPECT_EQ(quill::pdf::utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");
}

TEST(FormSet, TextGetsAFreshAppearanceAndWhatItsFontLacksComesFromAnEmbeddedFont) {
    TempDir dir;
    auto path = makeForm(dir.path);
    auto pdf = open(path);
    FormFields forms(*pdf);
    int name = forms.find(u"name");
    ASSERT_GE(name, 0);
    forms.setValue(static_cast<std::size_t>(name), QPDFObjectHandle::newString("Ada Lovelace"));
    EXPECT_NE(appearanceText(forms.fields()[static_cast<std::size_t>(name)].dict).find("(Ada Lovelace)"),
              std::string::npos);

    // Latin letters the font's encoding has are drawn; on one line a line break shows as a space.
    forms.setValue(static_cast<std::size_t>(name), QPDFObjectHandle::newUnicodeString("Caf\u00e9"));
    EXPECT_NE(appearanceText(forms.fields()[static_cast<std::size_t>(name)].dict).find("<436166e9>"), std::string::npos)
        << appearanceText(forms.fields()[static_cast<std::size_t>(name)].dict);
    forms.setValue(static_cast<std::size_t>(name), QPDFObjectHandle::newString("two\nlines"));
    EXPECT_NE(appearanceText(forms.fields()[static_cast<std::size_t>(name)].dict).find("(two lines)"),
              std::string::npos);

    // A subset font draws the words it has; a word with a letter it lacks is handed whole to an
    // embedded font, not drawn in two fonts.
    auto code = static_cast<std::size_t>(forms.find(u"code"));
    forms.setValue(code, QPDFObjectHandle::newString("CAC"));
    EXPECT_NE(appearanceText(forms.fields()[code].dict).find("(CAC)"), std::string::npos);
    forms.setValue(code, QPDFObjectHandle::newString("CAC CAB"));
    auto drawnCode = appearanceText(forms.fields()[code].dict);
    EXPECT_NE(drawnCode.find("(CAC"), std::string::npos) << drawnCode;
    EXPECT_EQ(drawnCode.find("(CA)"), std::string::npos) << drawnCode;
    EXPECT_NE(drawnCode.find("/QmFb"), std::string::npos) << drawnCode;

    // Cyrillic is beyond a single-byte font: drawn with an embedded Unicode font, and the
    // viewer is not asked to draw it again.
    std::u16string cyrillic = u"\u041b\u0435\u0441\u044f \u0423\u043a\u0440\u0430\u0457\u043d\u043a\u0430";
    forms.setValue(static_cast<std::size_t>(name), QPDFObjectHandle::newUnicodeString(utf8(cyrillic)));
    auto normal = forms.fields()[static_cast<std::size_t>(name)].dict.getKey("/AP").getKey("/N");
    ASSERT_TRUE(normal.isStream());
    bool unicodeFont = false;
    for (auto& [key, font] : normal.getDict().getKey("/Resources").getKey("/Font").ditems())
        if (font.getKey("/Subtype").isName() && font.getKey("/Subtype").getName() == "/Type0") unicodeFont = true;
    EXPECT_TRUE(unicodeFont);
    auto need = pdf->getRoot().getKey("/AcroForm").getKey("/NeedAppearances");
    EXPECT_FALSE(need.isBool() && need.getBoolValue());

    // A parent of kind Tx: its kids inherit the value and get appearances of their own.
    int person = forms.find(u"person");
    ASSERT_GE(person, 0);
    forms.setValue(static_cast<std::size_t>(person), QPDFObjectHandle::newString("Grace"));
    int first = forms.find(u"person.first");
    EXPECT_NE(appearanceText(forms.fields()[static_cast<std::size_t>(first)].dict).find("(Grace)"), std::string::npos);

    auto out = (dir.path / "out.pdf").string();
    save(*pdf, out);
    auto values = pdftkValues(out);
    EXPECT_EQ(values["name"], utf8(cyrillic));
    EXPECT_EQ(values["person.first"], "Grace");
}

TEST(FormSet, ButtonsTakeTheStateTheTextNames) {
    TempDir dir;
    auto path = makeForm(dir.path);
    auto pdf = open(path);
    FormFields forms(*pdf);
    auto agree = static_cast<std::size_t>(forms.find(u"agree"));
    auto size = static_cast<std::size_t>(forms.find(u"size"));
    EXPECT_EQ(forms.buttonStates(agree), (std::vector<std::string>{"Off", "Ja"}));

    // The plug-in always hands over a string, never a name.
    forms.setValue(agree, QPDFObjectHandle::newString("Ja"));
    forms.setValue(size, QPDFObjectHandle::newString("S"));
    try {
        forms.setValue(agree, QPDFObjectHandle::newString("Yes"));
        ADD_FAILURE() << "a state the box does not have was accepted";
    } catch (const quill::pdf::Error& e) {
        EXPECT_STREQ(e.what(),
                     "The value \"Yes\" is not a state of the check box \"agree\"; its states are Off and Ja.");
        EXPECT_EQ(e.code() & 0xFFFFFF, 0x50003);
    }
    try {
        forms.setValue(size, QPDFObjectHandle::newString("M"));
        ADD_FAILURE() << "a state the group does not have was accepted";
    } catch (const quill::pdf::Error& e) {
        EXPECT_NE(std::string(e.what()).find("radio button group \"size\"; its states are Off, S and L."),
                  std::string::npos)
            << e.what();
    }
    EXPECT_THROW(forms.setValue(static_cast<std::size_t>(forms.find(u"go")), QPDFObjectHandle::newString("x")),
                 quill::pdf::Error);

    auto out = (dir.path / "out.pdf").string();
    save(*pdf, out);
    auto back = open(out);
    FormFields reread(*back);
    auto agreeDict = reread.fields()[static_cast<std::size_t>(reread.find(u"agree"))].dict;
    EXPECT_EQ(agreeDict.getKey("/V").getName(), "/Ja");
    EXPECT_EQ(agreeDict.getKey("/AS").getName(), "/Ja");
    auto sizeIndex = static_cast<std::size_t>(reread.find(u"size"));
    EXPECT_EQ(reread.value(sizeIndex).getName(), "/S");
    auto kids = QPDFObjectHandle(reread.fields()[sizeIndex].dict).getKey("/Kids");
    EXPECT_EQ(kids.getArrayItem(0).getKey("/AS").getName(), "/S");
    EXPECT_EQ(kids.getArrayItem(1).getKey("/AS").getName(), "/Off");
    EXPECT_EQ(pdftkValues(out)["agree"], "Ja");

    // Off clears the box again.
    reread.setValue(static_cast<std::size_t>(reread.find(u"agree")), QPDFObjectHandle::newString("Off"));
    EXPECT_EQ(agreeDict.getKey("/AS").getName(), "/Off");
}

TEST(FormSet, FixtureButtonsAndNonAsciiValuesSurviveSaveAndReopen) {
    TempDir dir;
    // form-utf8.pdf: radio states with non-ASCII names (Açò / Allò).
    auto pdf = open(kPdfs + "form-utf8.pdf");
    FormFields forms(*pdf);
    std::size_t radio = forms.size();
    for (std::size_t i = 0; i < forms.size(); ++i)
        if (forms.fields()[i].ownKind == "Btn") {
            radio = i;
            break;
        }
    ASSERT_LT(radio, forms.size());
    auto states = forms.buttonStates(radio);
    ASSERT_GE(states.size(), 2u);
    std::string wanted = states.back();
    forms.setValue(radio, QPDFObjectHandle::newUnicodeString(QUtil::pdf_doc_to_utf8(wanted)));
    EXPECT_EQ(forms.value(radio).getName(), "/" + wanted);

    // ukrainian.pdf: a Cyrillic text value round-trips.
    auto ua = open(kPdfs + "ukrainian.pdf");
    FormFields uaForms(*ua);
    std::size_t text = uaForms.size();
    for (std::size_t i = 0; i < uaForms.size(); ++i)
        if (uaForms.fields()[i].ownKind == "Tx") {
            text = i;
            break;
        }
    ASSERT_LT(text, uaForms.size());
    std::string value = "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd1\x96\xd1\x82 \xe2\x80\x94 \xc3\xa9";
    uaForms.setValue(text, QPDFObjectHandle::newUnicodeString(value));
    auto out = (dir.path / "ua.pdf").string();
    save(*ua, out);
    auto back = open(out);
    FormFields reread(*back);
    EXPECT_EQ(reread.value(static_cast<std::size_t>(reread.find(uaForms.fields()[text].fullName))).getUTF8Value(),
              value);
    EXPECT_EQ(pdftkValues(out)[utf8(uaForms.fields()[text].fullName)], value);
}

TEST(FormReset, FieldsReturnToTheirDefaultsAndAppearancesFollow) {
    TempDir dir;
    auto pdf = open(makeForm(dir.path));
    FormFields forms(*pdf);
    auto name = static_cast<std::size_t>(forms.find(u"name"));
    auto agree = static_cast<std::size_t>(forms.find(u"agree"));
    auto size = static_cast<std::size_t>(forms.find(u"size"));
    auto person = static_cast<std::size_t>(forms.find(u"person"));
    forms.setValue(agree, QPDFObjectHandle::newString("Ja"));
    forms.setValue(person, QPDFObjectHandle::newString("Grace"));

    forms.setValue(static_cast<std::size_t>(forms.find(u"person.first")), QPDFObjectHandle::newString("Ada"));

    // Only the named ones first; a check box without a default is left without a value, off.
    forms.reset({u"agree"}, true);
    EXPECT_TRUE(forms.value(agree).isNull());
    EXPECT_EQ(QPDFObjectHandle(forms.fields()[agree].dict).getKey("/AS").getName(), "/Off");
    EXPECT_EQ(forms.value(person).getUTF8Value(), "Grace");

    forms.reset();
    EXPECT_EQ(forms.value(name).getUTF8Value(), "Anon");
    EXPECT_NE(appearanceText(forms.fields()[name].dict).find("(Anon)"), std::string::npos);
    EXPECT_EQ(forms.value(size).getName(), "/S");
    auto kids = QPDFObjectHandle(forms.fields()[size].dict).getKey("/Kids");
    EXPECT_EQ(kids.getArrayItem(0).getKey("/AS").getName(), "/S");
    EXPECT_EQ(kids.getArrayItem(1).getKey("/AS").getName(), "/Off");
    // Only terminal fields change: the parent keeps its value, its named kids lose theirs.
    EXPECT_EQ(forms.value(person).getUTF8Value(), "Grace");
    auto first = static_cast<std::size_t>(forms.find(u"person.first"));
    EXPECT_TRUE(forms.value(first).isNull());
    EXPECT_EQ(appearanceText(forms.fields()[first].dict).find("(Ada)"), std::string::npos);
}

// The reset read independently over real forms: a terminal field takes its (inherited) /DV;
// lacking one, a check box or radio group has no value and is off on every widget, a choice field holds its
// first option's export value and a text field nothing. Fields with named kids keep theirs.
TEST(FormReset, FixtureFieldsTakeDefaultsOffOrTheFirstOption) {
    int buttons = 0, choices = 0, kept = 0;
    for (const std::string file : {"AcroForm_TEST_compiled.pdf", "issue17492.pdf", "FormTestFromOo.pdf",
                                   "sample_form.pdf", "create_form.pdf", "form-utf8.pdf", "libreoffice-form.pdf"}) {
        SCOPED_TRACE(file);
        auto pdf = open(kPdfs + file);
        FormFields forms(*pdf);
        std::map<std::size_t, std::string> before;  // non-terminal fields' values
        for (std::size_t i = 0; i < forms.size(); ++i)
            if (forms.fields()[i].named && !forms.fields()[i].terminal) before[i] = forms.value(i).unparse();
        forms.reset();
        for (std::size_t i = 0; i < forms.size(); ++i) {
            const auto& f = forms.fields()[i];
            if (!f.named && f.parent >= 0) continue;
            std::string what = utf8(f.fullName);
            if (!f.terminal) {
                EXPECT_EQ(forms.value(i).unparse(), before[i]) << what;
                ++kept;
                continue;
            }
            QPDFObjectHandle dv = QPDFObjectHandle::newNull(), opt = dv, ff = dv;
            for (int k = static_cast<int>(i); k >= 0; k = forms.fields()[static_cast<std::size_t>(k)].parent) {
                auto d = forms.fields()[static_cast<std::size_t>(k)].dict;
                if (dv.isNull()) dv = d.getKey("/DV");
                if (opt.isNull()) opt = d.getKey("/Opt");
                if (ff.isNull()) ff = d.getKey("/Ff");
            }
            auto v = forms.value(i);
            std::string kind = forms.effectiveKind(i);
            bool push = ff.isInteger() && (ff.getIntValueAsInt() & 65536);
            if (!dv.isNull()) {
                EXPECT_EQ(v.unparse(), dv.unparse()) << what;
            } else if (kind == "Btn" && !push) {
                EXPECT_TRUE(v.isNull()) << what << " " << v.unparse();
                std::function<void(QPDFObjectHandle)> allOff = [&](QPDFObjectHandle node) {
                    if (node.getKey("/Kids").isArray()) {
                        for (auto& kid : node.getKey("/Kids").aitems()) allOff(kid);
                    } else if (node.hasKey("/AS")) {
                        EXPECT_EQ(node.getKey("/AS").getName(), "/Off") << what;
                    }
                };
                allOff(f.dict);
                ++buttons;
            } else if (kind == "Ch" && opt.isArray() && opt.getArrayNItems() > 0) {
                auto first = opt.getArrayItem(0);
                if (first.isArray()) first = first.getArrayItem(0);
                ASSERT_TRUE(v.isString()) << what;
                EXPECT_EQ(v.getUTF8Value(), first.getUTF8Value()) << what;
                EXPECT_FALSE(f.dict.hasKey("/I")) << what;
                ++choices;
            } else {
                EXPECT_TRUE(v.isNull()) << what << " " << v.unparse();
            }
        }
    }
    EXPECT_GT(buttons, 10);
    EXPECT_GE(choices, 5);
    EXPECT_GE(kept, 2);
}

// Export and display values: the reset stores the export value of the first [export display]
// option and the combo box shows its display text.
TEST(FormReset, ChoiceFieldsWithoutDefaultShowTheirFirstOption) {
    TempDir dir;
    QPDF pdf;
    pdf.emptyPDF();
    auto page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 300 200] /Resources << >> /Annots [] >>"));
    auto combo = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 /T (pick) /Rect [10 150 200 170]"
                                " /DA (/Helv 10 Tf 0 g) /Opt [[(e1) (First shown)] [(e2) (Second shown)]] /V (e2) >>"));
    auto list = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /FT /Ch /T (list) /Rect [10 60 200 140]"
                                " /DA (/Helv 10 Tf 0 g) /Opt [(alpha) (beta)] /V (beta) /I [1] >>"));
    for (auto w : {combo, list}) {
        w.replaceKey("/P", page);
        page.getKey("/Annots").appendItem(w);
    }
    auto acroForm = QPDFObjectHandle::parse("<< /Fields [] /DR << /Font << >> >> >>");
    acroForm.getKey("/Fields").appendItem(combo);
    acroForm.getKey("/Fields").appendItem(list);
    acroForm.getKey("/DR").getKey("/Font").replaceKey(
        "/Helv", pdf.makeIndirectObject(QPDFObjectHandle::parse(
                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")));
    pdf.getRoot().replaceKey("/AcroForm", pdf.makeIndirectObject(acroForm));
    pdf.addPage(page, false);

    FormFields forms(pdf);
    forms.reset();
    auto pick = static_cast<std::size_t>(forms.find(u"pick"));
    auto box = static_cast<std::size_t>(forms.find(u"list"));
    EXPECT_EQ(forms.value(pick).getUTF8Value(), "e1");
    EXPECT_NE(appearanceText(combo).find("(First shown)"), std::string::npos) << appearanceText(combo);
    EXPECT_EQ(forms.value(box).getUTF8Value(), "alpha");
    EXPECT_FALSE(list.hasKey("/I"));
    auto out = (dir.path / "out.pdf").string();
    save(pdf, out);
    EXPECT_EQ(pdftkValues(out)["pick"], "e1");
}

TEST(FormSet, EveryChangeIsReported) {
    TempDir dir;
    auto pdf = open(makeForm(dir.path));
    int changes = 0;
    FormFields forms(*pdf, [&] { ++changes; });
    forms.setValue(static_cast<std::size_t>(forms.find(u"name")), QPDFObjectHandle::newString("x"));
    EXPECT_THROW(forms.setValue(static_cast<std::size_t>(forms.find(u"agree")), QPDFObjectHandle::newString("No")),
                 quill::pdf::Error);
    forms.reset();
    EXPECT_EQ(changes, 2);
}

TEST(FormHandles, HandlesAreStableAndDieWithTheirDocument) {
    TempDir dir;
    auto pdf = std::shared_ptr<QPDF>(open(makeForm(dir.path)));
    auto& handles = acro_host::ObjectHandles::shared();
    auto id = handles.idOf(pdf);
    EXPECT_EQ(handles.idOf(pdf), id);
    FormFields forms(*pdf);
    auto name = forms.fields()[static_cast<std::size_t>(forms.find(u"name"))].dict;

    auto h1 = handles.handle(id, name);
    auto h2 = handles.handle(id, name);
    EXPECT_EQ(h1.a, h2.a);
    EXPECT_EQ(h1.b, h2.b);
    auto null = handles.handle(id, QPDFObjectHandle::newNull());
    EXPECT_EQ(null.a | null.b, 0u);

    // A direct entry keeps its handle while it stands and gets a new one once replaced.
    auto v1 = handles.handleForKey(id, name, "/V");
    EXPECT_EQ(handles.handleForKey(id, name, "/V").b, v1.b);
    forms.setValue(static_cast<std::size_t>(forms.find(u"name")), QPDFObjectHandle::newString("new"));
    auto v2 = handles.handleForKey(id, name, "/V");
    EXPECT_NE(v2.b, v1.b);
    EXPECT_EQ(handles.object(v2)->getUTF8Value(), "new");
    EXPECT_EQ(handles.object(v1)->getUTF8Value(), "Old");

    EXPECT_FALSE(handles.object({id, 999999}).has_value());
    pdf.reset();
    EXPECT_FALSE(handles.object(v2).has_value());
    auto other = std::make_shared<int>(0);
    EXPECT_NE(handles.idOf(other), id);  // ids are never reused
}

TEST(FormCache, OneTreePerDocumentGenerationAndChangesAreMarked) {
    TempDir dir;
    auto doc = quill::pdf::Document::open(makeForm(dir.path), false);
    auto forms = FormFields::forDocument(doc);
    EXPECT_EQ(FormFields::forDocument(doc), forms);
    auto firstDict = forms->fields()[0].dict;

    auto before = doc->generation();
    forms->setValue(static_cast<std::size_t>(forms->find(u"name")), QPDFObjectHandle::newString("x"));
    EXPECT_GT(doc->generation(), before);

    // Our own change keeps the tree; another writer's change makes the next use read it again.
    auto* address = &forms->fields()[0];
    FormFields::forDocument(doc);
    EXPECT_EQ(&forms->fields()[0], address);
    QPDFObjectHandle(firstDict).replaceKey("/T", QPDFObjectHandle::newString("renamed"));
    doc->markChanged();
    FormFields::forDocument(doc);
    EXPECT_GE(forms->find(u"renamed"), 0);

    // A warning raised while drawing the document's field is the document's, not the process's.
    quill::pdf::takeWarnings();
    forms->setValue(static_cast<std::size_t>(forms->find(u"renamed")),
                    QPDFObjectHandle::newUnicodeString("x\xF4\x8F\xBF\xBD"));
    forms->drawPending();
    const std::string lost =
        "field \"renamed\": 1 character(s) no installed font has were not drawn (the first U+10FFFD)";
    auto has = [&lost](const std::vector<quill::pdf::Warning>& list) {
        return std::any_of(list.begin(), list.end(), [&](const auto& w) { return w.text == lost; });
    };
    EXPECT_TRUE(has(doc->warnings()));
    EXPECT_FALSE(has(quill::pdf::takeWarnings()));
    EXPECT_TRUE(has(doc->takeWarnings()));
    EXPECT_TRUE(doc->warnings().empty());

    auto other = quill::pdf::Document::open(kPdfs + "issue17492.pdf", false);
    EXPECT_NE(FormFields::forDocument(other), forms);
}

TEST(FormSet, FixtureCheckBoxesAndRadioGroupsShowTheirStateAfterReopening) {
    for (const std::string file : {"sample_form.pdf", "AcroFormsBasicFields.pdf", "create_form.pdf"}) {
        SCOPED_TRACE(file);
        TempDir dir;
        auto pdf = open(kPdfs + file);
        FormFields forms(*pdf);
        std::map<std::u16string, std::string> chosen;  // field -> state set
        for (std::size_t i = 0; i < forms.size(); ++i) {
            const auto& f = forms.fields()[i];
            if (f.ownKind != "Btn") continue;
            auto states = forms.buttonStates(i);
            if (states.size() < 2) continue;  // a push button
            chosen[f.fullName] = states.back();
            forms.setValue(i, QPDFObjectHandle::newUnicodeString(QUtil::pdf_doc_to_utf8(states.back())));
            try {
                forms.setValue(i, QPDFObjectHandle::newString("No such state"));
                ADD_FAILURE() << utf8(f.fullName);
            } catch (const quill::pdf::Error& e) {
                EXPECT_NE(std::string(e.what()).find("its states are Off"), std::string::npos) << e.what();
            }
        }
        ASSERT_FALSE(chosen.empty());
        auto out = (dir.path / "out.pdf").string();
        save(*pdf, out);
        auto back = open(out);
        FormFields reread(*back);
        for (auto& [name, state] : chosen) {
            auto i = static_cast<std::size_t>(reread.find(name));
            EXPECT_EQ(reread.value(i).getName(), "/" + state) << utf8(name);
            // Exactly the widgets that have the state show it; the others show Off.
            std::vector<std::size_t> widgets;
            std::function<void(std::size_t)> collect = [&](std::size_t k) {
                bool leaf = true;
                for (std::size_t j = k + 1; j < reread.size(); ++j)
                    if (reread.fields()[j].parent == static_cast<int>(k)) {
                        leaf = false;
                        collect(j);
                    }
                if (leaf) widgets.push_back(k);
            };
            collect(i);
            int on = 0;
            for (auto w : widgets) {
                auto as = reread.fields()[w].dict.getKey("/AS");
                ASSERT_TRUE(as.isName());
                if (as.getName() == "/" + state)
                    ++on;
                else
                    EXPECT_EQ(as.getName(), "/Off");
            }
            EXPECT_GE(on, 1) << utf8(name);
        }
    }
}
