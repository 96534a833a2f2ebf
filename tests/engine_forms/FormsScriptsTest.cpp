// Values in many scripts set into real forms of different font set-ups, read back the way a
// viewer that trusts the stored appearances shows them: the form no longer asks the viewer to
// draw, the widgets are flattened into the page (qpdf), then the page's text is extracted
// (pdftotext) and its pixels looked at (pdftoppm).
#include "Slurp.h"
#include "Forms.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using quill::pdf::FormFields;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";

struct TempDir : quill::testsupport::TempDir {
    TempDir() : quill::testsupport::TempDir("engine_forms_scripts") {}
};

using quill::testsupport::runProgram;

using quill::testsupport::slurp;

// Text without its white space: line breaks and spacing are the extractor's guess.
std::string squeezed(const std::string& utf8) {
    std::string out;
    for (char c : utf8)
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t' && c != '\f') out += c;
    return out;
}

struct Script {
    const char* name;
    const char* value;
};

const Script kScripts[] = {
    {"Latin-1",
     "M\xC3\xBCller Gr\xC3\xB6\xC3\x9F"
     "e fa\xC3\xA7"
     "ade"},
    {"Latin Extended", "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87 Dvo\xC5\x99\xC3\xA1k \xC4\xB0\xC4\x9F"},
    {"Greek",
     "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 \xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5"},
    {"Cyrillic", "\xD0\x9B\xD0\xB5\xD1\x81\xD1\x8F \xD0\xA3\xD0\xBA\xD1\x80\xD0\xB0\xD1\x97\xD0\xBD\xD0\xBA\xD0\xB0"},
    {"CJK", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD \xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82"},
    {"Arabic", "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 \xD8\xA8\xD8\xA7\xD9\x84\xD8\xB9\xD8\xA7\xD9\x84\xD9\x85"},
    {"Hebrew", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D"},
    {"Korean", "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEC\x84\x9C\xEC\x9A\xB8"},
    {"Vietnamese", "Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t H\xC3\xA0 N\xE1\xBB\x99i"},
    {"Devanagari",
     "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\xA8\xE0\xA5\x8D\xE0\xA4\xA6\xE0\xA5\x80 "
     "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87"},
    {"Thai", "\xE0\xB8\xA0\xE0\xB8\xB2\xE0\xB8\xA9\xE0\xB8\xB2 \xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2"},
    {"Emoji", "\xF0\x9F\x98\x80 \xE2\x9C\x88"},
    {"Combining", "Re\xCC\x81sume\xCC\x81 Jose\xCC\x81"},
    {"Mixed",
     "Zo\xC3\xAB \xE6\x9D\xB1\xE4\xBA\xAC \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2 "
     "\xE2\x82\xAC"},
};

struct FormCase {
    const char* file;
    const char* field;
    const char* fonts;           // the font set-up the form's field draws with
    bool compositeFont = false;  // the field's font swapped for an embedded Type0 (Identity-H) subset
};

const FormCase kForms[] = {
    {"AcroForm_TEST_compiled.pdf", "Text Field0", "Helvetica WinAnsi, auto size"},
    {"AcroFormsBasicFields.pdf", "TextField-DefaultValue", "Acrobat Helvetica with /Differences"},
    {"sample_form.pdf", "ZIP", "Acrobat Helvetica with /Differences, auto size"},
    {"FormTestFromOo.pdf", "Text1", "TrueType WinAnsi (not embedded), NeedAppearances"},
    {"issue17492.pdf", "firstName", "TrueType Arial WinAnsi"},
    {"libreoffice-form.pdf", "First Name", "TrueType Ubuntu WinAnsi, NeedAppearances"},
    {"ukrainian.pdf", "note1", "embedded TrueType subset WinAnsi, multi-line"},
    {"form-fields-and-annotations-shared.pdf", "Text Box 1", "Courier WinAnsi"},
    {"create_form.pdf", "favorite.superhero", "standard font named, no resource"},
    {"bug1815476.pdf", "topmostSubform[0].Page1[0].NOMBRE[0]", "TrueType ArialMT, encrypted file"},
    {"issue17492.pdf", "lastName", "Type0 Identity-H subset (Cyrillic LiberationSerif)", true},
};

// Gives the field the Type0 subset font of russian.pdf as its font.
void useCompositeFont(QPDF& pdf, QPDFObjectHandle field) {
    QPDF source;
    source.processFile((kPdfs + "russian.pdf").c_str());
    for (QPDFObjectHandle page : source.getAllPages())
        for (auto& [name, font] : page.getKey("/Resources").getKey("/Font").ditems())
            if (font.getKey("/Subtype").getName() == "/Type0") {
                auto dr = pdf.getRoot().getKey("/AcroForm").getKey("/DR");
                dr.getKey("/Font").replaceKey("/Cyr", pdf.copyForeignObject(font));
            }
    field.replaceKey("/DA", QPDFObjectHandle::newString("/Cyr 11 Tf 0 g"));
}

// The page (0-based) holding `widget`, and its rectangle.
int pageOf(QPDF& pdf, QPDFObjectHandle widget) {
    auto pages = pdf.getAllPages();
    for (std::size_t p = 0; p < pages.size(); ++p) {
        auto annots = pages[p].getKey("/Annots");
        if (!annots.isArray()) continue;
        for (auto& a : annots.aitems())
            if (a.isSameObjectAs(widget)) return static_cast<int>(p);
    }
    return 0;
}

// Dark pixels inside a page rectangle (points) of a 72 dpi grey rendering of page `page`.
long inkInside(const std::string& pdfFile, int page, QPDFObjectHandle::Rectangle r, double pageHeight,
               const fs::path& dir) {
    auto prefix = (dir / "ink").string();
    runProgram({"pdftoppm", "-r", "72", "-gray", "-singlefile", "-f", std::to_string(page + 1), "-l",
                std::to_string(page + 1), pdfFile, prefix});
    std::ifstream in(prefix + ".pgm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    std::vector<unsigned char> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    in.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
    if (magic != "P5" || !in) return -1;
    long count = 0;
    for (int y = static_cast<int>(pageHeight - r.ury) + 1; y < static_cast<int>(pageHeight - r.lly) - 1; ++y)
        for (int x = static_cast<int>(r.llx) + 1; x < static_cast<int>(r.urx) - 1; ++x)
            if (x >= 0 && y >= 0 && x < w && y < h &&
                px[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] < 160)
                ++count;
    return count;
}

struct Outcome {
    std::string text;     // pdftotext of the flattened page
    std::string asSaved;  // pdftotext of the page as saved (widgets drawn by the viewer from their appearances)
    long ink = 0;         // dark pixels inside the widget
};

// Sets `value` into the form's field, writes it as a viewer that trusts the stored appearances
// sees it, and reads it back.
Outcome fillAndRead(const FormCase& form, const std::string& value, const fs::path& dir) {
    QPDF pdf;
    pdf.processFile((kPdfs + form.file).c_str());
    FormFields forms(pdf);
    int at = forms.find(quill::pdf::utf8ToUtf16(form.field));
    EXPECT_GE(at, 0) << form.file;
    if (at < 0) return {};
    if (form.compositeFont) useCompositeFont(pdf, forms.fields()[static_cast<std::size_t>(at)].dict);
    forms.setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newUnicodeString(value));
    forms.drawPending();
    auto acroForm = pdf.getRoot().getKey("/AcroForm");
    if (acroForm.hasKey("/NeedAppearances")) acroForm.removeKey("/NeedAppearances");
    // The first widget of the field shows the value.
    auto widget = forms.fields()[static_cast<std::size_t>(at)].dict;
    while (widget.hasKey("/Kids")) widget = widget.getKey("/Kids").getArrayItem(0);
    int page = pageOf(pdf, widget);
    auto rect = widget.getKey("/Rect").getArrayAsRectangle();
    auto pageObject = pdf.getAllPages()[static_cast<std::size_t>(page)];
    auto box = pageObject.getKey("/MediaBox").getArrayAsRectangle();
    auto saved = (dir / "saved.pdf").string(), flat = (dir / "flat.pdf").string(), text = (dir / "text.txt").string();
    {
        QPDFWriter w(pdf, saved.c_str());
        w.setPreserveEncryption(false);
        w.write();
    }
    Outcome out;
    int status = runProgram({"qpdf", "--flatten-annotations=all", saved, flat});
    EXPECT_TRUE(status == 0 || status == 3) << form.file;  // 3: warnings
    runProgram(
        {"pdftotext", "-f", std::to_string(page + 1), "-l", std::to_string(page + 1), "-enc", "UTF-8", flat, text});
    out.text = slurp(text);
    runProgram(
        {"pdftotext", "-f", std::to_string(page + 1), "-l", std::to_string(page + 1), "-enc", "UTF-8", saved, text});
    out.asSaved = slurp(text);
    out.ink = inkInside(flat, page, rect, box.ury - box.lly, dir);
    return out;
}

// Every script on every form: the value's text comes back from the drawn appearance, and the
// widget has ink where there was none with an empty value.
TEST(FormScripts, EveryScriptIsDrawnOnEveryForm) {
    TempDir dir;
    for (const auto& form : kForms) {
        auto empty = fillAndRead(form, "", dir.path);
        for (const auto& script : kScripts) {
            auto read = fillAndRead(form, script.value, dir.path);
            // Word by word: a value wider than its box runs on under the page's own text beside it,
            // which the extractor may put between its words.
            std::istringstream words(script.value);
            for (std::string word; words >> word;) {
                EXPECT_NE(squeezed(read.text).find(word), std::string::npos)
                    << form.file << " (" << form.fonts << "), " << script.name << ", " << word << ": " << read.text;
                EXPECT_NE(squeezed(read.asSaved).find(word), std::string::npos)
                    << form.file << " not flattened, " << script.name << ", " << word << ": " << read.asSaved;
            }
            EXPECT_GT(read.ink, empty.ink + 5) << form.file << ", " << script.name;
        }
    }
}

}  // namespace
