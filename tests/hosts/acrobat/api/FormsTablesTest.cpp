// The Forms and Cos tables as the plug-in's field walk calls them, over real and generated forms.
#include "TempDir.h"
#include "AcroSDK.h"
#include "HostAPI.h"
#include "PDDocHandle.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";

template <class Proto>
Proto proc(const char* hft, Selector sel) {
    auto* p = acro_host::registeredProc(hft, sel);
    EXPECT_NE(p, nullptr) << hft << " " << sel;
    return reinterpret_cast<Proto>(p);
}

struct Tables {
    AFPDDocLoadPDFields_SELPROTO load = proc<AFPDDocLoadPDFields_SELPROTO>(FormsHFTName, AFPDDocLoadPDFields_SEL);
    AFPDDocEnumPDFields_SELPROTO enumerate = proc<AFPDDocEnumPDFields_SELPROTO>(FormsHFTName, AFPDDocEnumPDFields_SEL);
    AFPDFieldIsValid_SELPROTO isValid = proc<AFPDFieldIsValid_SELPROTO>(FormsHFTName, AFPDFieldIsValid_SEL);
    AFPDFieldGetCosObj_SELPROTO cosObj = proc<AFPDFieldGetCosObj_SELPROTO>(FormsHFTName, AFPDFieldGetCosObj_SEL);
    AFPDFieldGetName_SELPROTO name = proc<AFPDFieldGetName_SELPROTO>(FormsHFTName, AFPDFieldGetName_SEL);
    AFPDFieldGetValue_SELPROTO value = proc<AFPDFieldGetValue_SELPROTO>(FormsHFTName, AFPDFieldGetValue_SEL);
    AFPDFieldSetValue_SELPROTO setValue = proc<AFPDFieldSetValue_SELPROTO>(FormsHFTName, AFPDFieldSetValue_SEL);
    ResetForm_SELPROTO reset = proc<ResetForm_SELPROTO>(FormsHFTName, ResetForm_SEL);
    CosNewNullSELPROTO newNull = proc<CosNewNullSELPROTO>(CosHFTName, CosNewNullSEL);
    CosDictGetKeyStringSELPROTO getKey = proc<CosDictGetKeyStringSELPROTO>(CosHFTName, CosDictGetKeyStringSEL);
    CosObjGetTypeSELPROTO type = proc<CosObjGetTypeSELPROTO>(CosHFTName, CosObjGetTypeSEL);
    CosNameValueSELPROTO nameValue = proc<CosNameValueSELPROTO>(CosHFTName, CosNameValueSEL);
    CosObjGetDocSELPROTO doc = proc<CosObjGetDocSELPROTO>(CosHFTName, CosObjGetDocSEL);
    CosNewStringSELPROTO newString = proc<CosNewStringSELPROTO>(CosHFTName, CosNewStringSEL);
    CosCopyStringValueSELPROTO copyString = proc<CosCopyStringValueSELPROTO>(CosHFTName, CosCopyStringValueSEL);
    ASAtomGetStringSELPROTO atomString = proc<ASAtomGetStringSELPROTO>(CoreHFTName, ASAtomGetStringSEL);
    ASGetErrorStringSELPROTO errorString = proc<ASGetErrorStringSELPROTO>(AcroSupportHFTName, ASGetErrorStringSEL);
    ASfreeSELPROTO free = proc<ASfreeSELPROTO>(AcroSupportHFTName, ASfreeSEL);
};

struct Entry {
    PDField field;
    std::string name;  // PDF text bytes
    std::string kind;
};

// The walk the plug-in makes: every field, kept when its own FT names a handled kind.
std::vector<Entry> walk(Tables& t, PDDoc doc) {
    struct Ctx {
        Tables* t;
        std::vector<Entry> out;
    } ctx{&t, {}};
    t.load(doc);
    t.enumerate(
        doc, false, false,
        [](PDField f, void* data) -> ASBool {
            auto* c = static_cast<Ctx*>(data);
            if (!c->t->isValid(f)) return true;
            CosObj ft = c->t->getKey(c->t->cosObj(f), "FT");
            if (c->t->type(ft) != CosName) return true;
            std::string kind = c->t->atomString(c->t->nameValue(ft));
            if (kind != "Tx" && kind != "Ch" && kind != "Btn") return true;
            c->out.push_back({f, c->t->name(f), kind});
            return true;
        },
        &ctx);
    return ctx.out;
}

// The value as the plug-in reads it (decoded to UTF-8); nullopt where it meets an Acrobat error.
std::optional<std::string> read(Tables& t, const Entry& e) {
    try {
        if (e.kind == "Btn") {
            CosObj v = t.getKey(t.cosObj(e.field), "V");
            return quill::pdf::utf16ToUtf8(quill::pdf::pdfTextToUtf16(t.atomString(t.nameValue(v))));
        }
        ASTCount n = 0;
        char* bytes = t.copyString(t.value(e.field), &n);
        std::string s(bytes, static_cast<std::size_t>(n));
        t.free(bytes);
        return quill::pdf::utf16ToUtf8(quill::pdf::pdfTextToUtf16(s));
    } catch (const acro_host::RequestAborted&) {
        return std::nullopt;
    }
}

void set(Tables& t, const Entry& e, const std::string& pdfText) {
    CosObj s = t.newString(t.doc(t.cosObj(e.field)), false, pdfText.data(), static_cast<ASTArraySize>(pdfText.size()));
    t.setValue(e.field, s);
}

const Entry* byName(const std::vector<Entry>& entries, const std::string& name) {
    for (auto& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

struct OpenDoc {
    quill::testsupport::TempDir tmp{"forms_tables"};
    fs::path dir = tmp.path;
    PDDoc pd = nullptr;
    explicit OpenDoc(const std::string& fixture) {
        fs::copy_file(kPdfs + fixture, dir / fixture);
        pd = acro_host::newPDDoc(quill::pdf::Document::open((dir / fixture).string(), false));
    }
    ~OpenDoc() {
        if (pd) acro_host::releasePDDoc(pd);
    }
    std::string saveAs(const std::string& name) {
        auto path = (dir / name).string();
        QPDFWriter w(pd->doc->qpdf(), path.c_str());
        w.write();
        return path;
    }
};

}  // namespace

TEST(FormsTables, WalkNamesValuesAndUnreadableValuesAsThePluginSeesThem) {
    Tables t;
    OpenDoc form("AcroForm_TEST_compiled.pdf");
    auto entries = walk(t, form.pd);
    ASSERT_FALSE(entries.empty());
    int unreadable = 0;
    for (auto& e : entries) {
        auto v = read(t, e);
        if (!v) ++unreadable;
    }
    // The multi-select list (an array) and the push button (no V) cannot be read as text.
    EXPECT_GE(unreadable, 2);

    // Walking twice hands out the same field handles and stops when the visitor says so.
    auto again = walk(t, form.pd);
    ASSERT_EQ(again.size(), entries.size());
    EXPECT_EQ(again.front().field, entries.front().field);
    int visited = 0;
    t.enumerate(
        form.pd, false, false, [](PDField, void* n) -> ASBool { return ++*static_cast<int*>(n) < 2; }, &visited);
    EXPECT_EQ(visited, 2);
}

TEST(FormsTables, SetsTextAndButtonsByStringAndRefusesUnknownStates) {
    Tables t;
    OpenDoc form("form-utf8.pdf");
    auto entries = walk(t, form.pd);
    auto* radio = byName(entries, "Radio Button");
    auto* list = byName(entries, "List Box");
    ASSERT_TRUE(radio && list);

    set(t, *radio, "All\xf2");  // PDFDocEncoding of "Allò"
    EXPECT_EQ(read(t, *radio), "Allò");
    try {
        set(t, *radio, "Yes");
        ADD_FAILURE() << "an unknown state was stored";
    } catch (const acro_host::RequestAborted& e) {
        char buf[256];
        t.errorString(e.code, buf, sizeof buf);
        EXPECT_NE(std::string(buf).find("\"Yes\" is not a state of the radio button group \"Radio Button\""),
                  std::string::npos)
            << buf;
    }
    EXPECT_EQ(read(t, *radio), "Allò");

    std::string ukrainian = "\xFE\xFF\x04\x1F\x04\x40\x04\x38";  // UTF-16BE with BOM
    set(t, *list, ukrainian);
    EXPECT_EQ(read(t, *list), "При");

    auto saved = form.saveAs("out.pdf");
    QPDF back;
    back.processFile(saved.c_str());
    quill::pdf::FormFields reread(back);
    EXPECT_EQ(reread.value(static_cast<std::size_t>(reread.find(u"Radio Button"))).getName(), "/All\xf2");
    EXPECT_EQ(reread.value(static_cast<std::size_t>(reread.find(u"List Box"))).getUTF8Value(), "\u041f\u0440\u0438");
}

TEST(FormsTables, ResetAndStaleHandles) {
    Tables t;
    auto* form = new OpenDoc("issue17492.pdf");
    auto entries = walk(t, form->pd);
    auto* first = byName(entries, "firstName");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(read(t, *first), "Lucía");
    t.reset(form->pd, t.newNull(), true);
    auto after = read(t, *first);
    EXPECT_TRUE(!after || after->empty());  // back to its empty default

    // A field of a closed document reports itself invalid instead of crashing; so does its
    // Cos document, and a value that was never one.
    PDField stale = first->field;
    CosDoc staleDoc = t.doc(t.cosObj(first->field));
    delete form;
    EXPECT_THROW(t.newString(staleDoc, false, "x", 1), acro_host::RequestAborted);
    EXPECT_THROW(t.newString(reinterpret_cast<CosDoc>(std::uintptr_t{0x1230}), false, "x", 1),
                 acro_host::RequestAborted);
    EXPECT_FALSE(t.isValid(stale));
    EXPECT_THROW(t.name(stale), acro_host::RequestAborted);
    // Walking other documents frees the closed one's handles; the stale handle stays invalid and
    // is never handed out again, however many documents come and go.
    for (int i = 0; i < 20; ++i) {
        OpenDoc again("issue17492.pdf");
        for (const auto& e : walk(t, again.pd)) EXPECT_NE(e.field, stale);
        EXPECT_FALSE(t.isValid(stale));
    }
    CosObj nothing = t.newNull();
    EXPECT_EQ(nothing.a | nothing.b, 0u);
    EXPECT_EQ(t.type(nothing), CosNull);
    EXPECT_THROW(t.nameValue(nothing), acro_host::RequestAborted);
}

// A merge looks its fields up by name and never walks: every close must free the closed
// document's field records, or the application grows with each record merged.
TEST(FormsTables, ClosingFreesTheFieldHandlesOfNamedLookups) {
    auto find = proc<AFPDDocGetPDFieldFromName_SELPROTO>(FormsHFTName, AFPDDocGetPDFieldFromName_SEL);
    Tables t;
    const std::size_t before = acro_host::fieldHandleCount();
    for (int i = 0; i < 5; ++i) {
        OpenDoc form("issue17492.pdf");
        char name[] = "firstName";
        PDField field = find(form.pd, name);
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(t.isValid(field));
        EXPECT_EQ(acro_host::fieldHandleCount(), before + 1);
    }
    EXPECT_EQ(acro_host::fieldHandleCount(), before);
}

// A field looked up by name is the one the walk meets first under that name; kids without a
// name of their own are widgets of their field and never offered as fields.
TEST(FormsTables, FindByNameMatchesTheWalkAndWidgetKidsAreNoFields) {
    Tables t;
    auto find = proc<AFPDDocGetPDFieldFromName_SELPROTO>(FormsHFTName, AFPDDocGetPDFieldFromName_SEL);
    OpenDoc form("form-fields-and-annotations-shared.pdf");
    auto entries = walk(t, form.pd);
    int radios = 0, firstBox = -1;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        radios += entries[k].name == "r1";
        if (entries[k].name == "Text Box 1" && firstBox < 0) firstBox = static_cast<int>(k);
    }
    EXPECT_EQ(radios, 1);  // three widget kids, one field
    ASSERT_GE(firstBox, 0);

    // Names as PDF text: PDFDocEncoding, or UTF-16BE after FE FF ending in two zero bytes.
    auto units = [](const std::string& s) { return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1); };
    // Two fields share the name: the lookup gives the walk's first.
    EXPECT_EQ(find(form.pd, units("Text Box 1").data()), entries[static_cast<std::size_t>(firstBox)].field);
    EXPECT_EQ(find(form.pd, units("Text Box").data()), nullptr);
    EXPECT_EQ(find(form.pd, units("").data()), nullptr);

    // Set and read under the group's name, as for a field with one widget.
    auto* r1 = byName(entries, "r1");
    ASSERT_NE(r1, nullptr);
    EXPECT_EQ(find(form.pd, units("r1").data()), r1->field);
    EXPECT_EQ(find(form.pd, units(std::string("\xFE\xFF\0r\0"
                                              "1\0",
                                              8))
                                .data()),
              r1->field);
    set(t, *r1, "3");
    EXPECT_EQ(read(t, *r1), "3");
}
