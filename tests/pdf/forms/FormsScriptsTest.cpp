// Values in many scripts set into real forms of different font set-ups, read back the way a
// viewer that trusts the stored appearances shows them: the form no longer asks the viewer to
// draw, the widgets are flattened into the page (qpdf), then the page's text is extracted
// (pdftotext) and its pixels looked at (pdftoppm).
#include "FieldFont.h"
#include "Slurp.h"
#include "quill/pdf/Forms.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <hb.h>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdlib>
#include <map>
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
    {"Arabic in letters the Arabic CID font has", "\xD8\xB7\xD8\xA7\xD8\xB9"},
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
    const char* fonts;                    // the font set-up the form's field draws with
    const char* compositeFrom = nullptr;  // the field's font swapped for this file's embedded Type0 (Identity-H) subset
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
    {"issue17492.pdf", "lastName", "Type0 Identity-H subset (Cyrillic LiberationSerif)", "russian.pdf"},
    {"issue17492.pdf", "lastName", "Type0 Identity-H TrueType subset with Arabic letters", "ArabicCIDTrueType.pdf"},
};

// Gives the field a Type0 subset font of `file` as its font.
void useCompositeFont(QPDF& pdf, QPDFObjectHandle field, const char* file) {
    QPDF source;
    source.processFile((kPdfs + file).c_str());
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

// A field's first widget as a viewer trusting the stored appearances shows it (the form no
// longer asks the viewer to draw): the widget, its page (0-based), its rectangle, the page's box.
struct Shown {
    QPDFObjectHandle widget;
    int page = 0;
    QPDFObjectHandle::Rectangle rect, media;
};

Shown shownWidget(QPDF& pdf, QPDFObjectHandle field) {
    auto acroForm = pdf.getRoot().getKey("/AcroForm");
    if (acroForm.hasKey("/NeedAppearances")) acroForm.removeKey("/NeedAppearances");
    Shown out;
    out.widget = field;
    while (out.widget.hasKey("/Kids")) out.widget = out.widget.getKey("/Kids").getArrayItem(0);
    out.page = pageOf(pdf, out.widget);
    out.rect = out.widget.getKey("/Rect").getArrayAsRectangle();
    QPDFObjectHandle page = pdf.getAllPages()[static_cast<std::size_t>(out.page)];
    out.media = page.getKey("/MediaBox").getArrayAsRectangle();
    return out;
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

// One glyph an appearance draws: its font, its glyph in the font's program (composite fonts)
// and the characters the font's /ToUnicode map (a simple font: its encoding) gives it.
struct Drawn {
    QPDFObjectHandle font;
    unsigned gid = 0;
    std::u32string text;
    bool lineStart = false;
};

std::u32string utf16(const std::string& be) {
    std::u32string out;
    for (std::size_t k = 0; k + 1 < be.size(); k += 2) {
        char32_t u = (static_cast<unsigned char>(be[k]) << 8) | static_cast<unsigned char>(be[k + 1]);
        if (!out.empty() && u >= 0xDC00 && u <= 0xDFFF && out.back() >= 0xD800 && out.back() <= 0xDBFF)
            out.back() = 0x10000 + ((out.back() - 0xD800) << 10) + (u - 0xDC00);
        else
            out += u;
    }
    return out;
}

long codeOf(const std::string& bytes) {
    long v = 0;
    for (unsigned char b : bytes) v = v << 8 | b;
    return v;
}

// A /ToUnicode CMap's bfchar and bfrange entries (ranges onto one string), read with qpdf's tokenizer.
std::map<long, std::u32string> toUnicode(QPDFObjectHandle cmap) {
    std::map<long, std::u32string> map;
    auto data = cmap.getStreamData();
    auto in = std::make_shared<BufferInputSource>(
        "ToUnicode", std::string(reinterpret_cast<char*>(data->getBuffer()), data->getSize()));
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    std::string section;
    std::vector<std::string> operands;
    for (;;) {
        auto token = tokenizer.readToken(in, "ToUnicode", true);
        if (token.getType() == QPDFTokenizer::tt_eof || token.getType() == QPDFTokenizer::tt_bad) break;
        if (token.getType() == QPDFTokenizer::tt_word) section = token.getValue(), operands.clear();
        if (token.getType() != QPDFTokenizer::tt_string) continue;
        operands.push_back(token.getValue());
        if (section == "beginbfchar" && operands.size() == 2) {
            map[codeOf(operands[0])] = utf16(operands[1]);
            operands.clear();
        } else if (section == "beginbfrange" && operands.size() == 3) {
            for (long c = codeOf(operands[0]), first = c; c <= codeOf(operands[1]) && c - first < 65536; ++c) {
                auto text = utf16(operands[2]);
                if (!text.empty()) text.back() += static_cast<char32_t>(c - first);
                map[c] = text;
            }
            operands.clear();
        }
    }
    return map;
}

std::string bytesOf(QPDFObjectHandle stream) {
    auto data = stream.getStreamData();
    return {reinterpret_cast<char*>(data->getBuffer()), data->getSize()};
}

// An entry of a composite font's CIDFont (`key` a /FontDescriptor entry when it names a font file).
QPDFObjectHandle program(QPDFObjectHandle type0, const std::string& key) {
    auto descendants = type0.getKey("/DescendantFonts");
    if (!descendants.isArray()) return QPDFObjectHandle::newNull();
    auto cidFont = descendants.getArrayItem(0);
    return key.rfind("/FontFile", 0) == 0 ? cidFont.getKey("/FontDescriptor").getKey(key) : cidFont.getKey(key);
}

// The glyphs of a widget's normal appearance, in the order drawn.
std::vector<Drawn> drawnGlyphs(QPDFObjectHandle widget) {
    struct Reader : QPDFObjectHandle::ParserCallbacks {
        QPDFObjectHandle fonts;
        std::vector<QPDFObjectHandle> operands;
        std::vector<Drawn> glyphs;
        QPDFObjectHandle font;
        std::map<long, std::u32string> map;
        std::string cidToGid;
        bool lineStart = true;
        void show(const std::string& bytes) {
            bool wide = font.getKey("/Subtype").isNameAndEquals("/Type0");
            for (std::size_t k = 0; k + (wide ? 1 : 0) < bytes.size(); k += wide ? 2 : 1) {
                long code = codeOf(bytes.substr(k, wide ? 2 : 1));
                auto gid = static_cast<unsigned>(code);
                if (2 * gid + 1 < cidToGid.size())
                    gid = static_cast<unsigned char>(cidToGid[2 * gid]) << 8 |
                          static_cast<unsigned char>(cidToGid[2 * gid + 1]);
                glyphs.push_back({font, gid, map[code], lineStart});
                lineStart = false;
            }
        }
        void handleEOF() override {}
        void handleObject(QPDFObjectHandle obj) override {
            if (!obj.isOperator()) return operands.push_back(obj);
            const std::string op = obj.getOperatorValue();
            if (op == "Tf" && !operands.empty() && operands[0].isName()) {
                font = fonts.getKey(operands[0].getName());
                map.clear();
                cidToGid.clear();
                if (font.getKey("/ToUnicode").isStream()) {
                    map = toUnicode(font.getKey("/ToUnicode"));
                } else if (auto encoding = quill::pdf::appearance::readEncoding(font)) {
                    for (auto [c, code] : encoding->codes) map[code] = std::u32string(1, c);
                }
                if (auto gids = program(font, "/CIDToGIDMap"); gids.isStream()) cidToGid = bytesOf(gids);
            } else if (op == "Tm" || op == "Td" || op == "TD" || op == "T*") {
                lineStart = true;
            } else if (op == "Tj" && !operands.empty() && operands[0].isString()) {
                show(operands[0].getStringValue());
            } else if (op == "TJ" && !operands.empty() && operands[0].isArray()) {
                for (auto& item : operands[0].aitems())
                    if (item.isString()) show(item.getStringValue());
            }
            operands.clear();
        }
    } reader;
    auto ap = widget.getKey("/AP").getKey("/N");
    reader.fonts = ap.getDict().getKey("/Resources").getKey("/Font");
    QPDFObjectHandle::parseContentStream(ap, &reader);
    return reader.glyphs;
}

std::u32string characters(const std::string& utf8) {
    std::u32string out;
    for (std::size_t k = 0; k < utf8.size(); ++k) {
        auto b = static_cast<unsigned char>(utf8[k]);
        int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        char32_t c = more ? b & (0x3F >> more) : b;
        for (; more > 0 && k + 1 < utf8.size(); --more) c = c << 6 | (static_cast<unsigned char>(utf8[++k]) & 0x3F);
        out += c;
    }
    return out;
}

std::u32string sortedLetters(std::u32string text) {
    text.erase(std::remove(text.begin(), text.end(), U' '), text.end());
    std::sort(text.begin(), text.end());
    return text;
}

// The glyph ids HarfBuzz shapes `word` into with the installed face of PostScript name `name`,
// as glyph names (a TrueType subset renumbers its glyphs but keeps their names) or, with
// `byId`, as ids (a CFF subset keeps them). Empty when no installed face has that name.
std::vector<std::string> shapedInstalled(const std::string& name, const std::u32string& word, bool byId) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_POSTSCRIPT_NAME, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
    FcFontSet* set = FcFontList(nullptr, pattern, objects);
    FcChar8* file = nullptr;
    int index = 0;
    std::vector<std::string> out;
    if (set && set->nfont > 0 && FcPatternGetString(set->fonts[0], FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(set->fonts[0], FC_INDEX, 0, &index);
        hb_blob_t* blob = hb_blob_create_from_file(reinterpret_cast<const char*>(file));
        hb_face_t* face = hb_face_create(blob, static_cast<unsigned>(index));
        hb_font_t* font = hb_font_create(face);
        hb_buffer_t* buffer = hb_buffer_create();
        hb_buffer_add_utf32(buffer, reinterpret_cast<const uint32_t*>(word.data()), static_cast<int>(word.size()), 0,
                            -1);
        hb_buffer_guess_segment_properties(buffer);
        hb_shape(font, buffer, nullptr, 0);
        unsigned n = 0;
        auto* info = hb_buffer_get_glyph_infos(buffer, &n);
        for (unsigned k = 0; k < n; ++k) {
            char glyphName[64] = "";
            hb_font_get_glyph_name(font, info[k].codepoint, glyphName, sizeof glyphName);
            out.push_back(byId ? std::to_string(info[k].codepoint) : glyphName);
        }
        hb_buffer_destroy(buffer);
        hb_font_destroy(font);
        hb_face_destroy(face);
        hb_blob_destroy(blob);
    }
    if (set) FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return out;
}

// What the drawing must hold for `value`: every glyph maps back through its font to the
// value's characters, no more and no fewer; a word is drawn in one font; a word of a script
// that must be shaped (Arabic, Devanagari, Thai) is drawn with the glyphs HarfBuzz shapes it
// into with the installed face it comes from.
void checkRuns(const std::vector<Drawn>& glyphs, const std::string& value, const std::string& label) {
    std::u32string drawn;
    for (auto& g : glyphs) drawn += g.text;
    EXPECT_EQ(sortedLetters(drawn), sortedLetters(characters(value))) << label << ": not what its fonts map back to";
    std::vector<std::u32string> words;
    for (std::size_t k = 0, end; k <= characters(value).size(); k = end + 1) {
        auto text = characters(value);
        end = std::min(text.find(U' ', k), text.size());
        words.push_back(text.substr(k, end - k));
    }
    for (std::size_t k = 0, end; k < glyphs.size(); k = end) {
        end = k + 1;
        if (glyphs[k].text == U" ") continue;
        while (end < glyphs.size() && glyphs[end].text != U" " && !glyphs[end].lineStart) ++end;
        std::u32string text;
        for (std::size_t j = k; j < end; ++j) {
            EXPECT_TRUE(glyphs[j].font.isSameObjectAs(glyphs[k].font)) << label << ": a word drawn in two fonts";
            text += glyphs[j].text;
        }
        bool shapes = std::any_of(text.begin(), text.end(), [](char32_t c) {
            auto script = hb_unicode_script(hb_unicode_funcs_get_default(), c);
            return script == HB_SCRIPT_ARABIC || script == HB_SCRIPT_DEVANAGARI || script == HB_SCRIPT_THAI;
        });
        auto word = std::find_if(words.begin(), words.end(),
                                 [&](const std::u32string& w) { return sortedLetters(w) == sortedLetters(text); });
        if (!shapes || word == words.end()) continue;
        auto font = glyphs[k].font;
        std::string name = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName().substr(1) : "";
        name = name.substr(name.find('+') + 1);
        bool cff = program(font, "/FontFile3").isStream();
        auto expected = shapedInstalled(name, *word, cff);
        std::vector<std::string> got;
        if (auto file = program(font, cff ? "/FontFile3" : "/FontFile2"); file.isStream()) {
            auto bytes = bytesOf(file);
            hb_blob_t* blob = hb_blob_create(bytes.data(), static_cast<unsigned>(bytes.size()), HB_MEMORY_MODE_READONLY,
                                             nullptr, nullptr);
            hb_face_t* face = hb_face_create(blob, 0);
            hb_font_t* subset = hb_font_create(face);
            for (std::size_t j = k; j < end; ++j) {
                char glyphName[64] = "";
                hb_font_get_glyph_name(subset, glyphs[j].gid, glyphName, sizeof glyphName);
                got.push_back(cff ? std::to_string(glyphs[j].gid) : glyphName);
            }
            hb_font_destroy(subset);
            hb_face_destroy(face);
            hb_blob_destroy(blob);
        }
        EXPECT_FALSE(expected.empty()) << label << ": a word to be shaped drawn in " << name << ", no installed face";
        EXPECT_EQ(got, expected) << label << ": a word drawn unshaped in " << name;
    }
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
    if (form.compositeFrom)
        useCompositeFont(pdf, forms.fields()[static_cast<std::size_t>(at)].dict, form.compositeFrom);
    forms.setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newUnicodeString(value));
    forms.drawPending();
    {
        auto drawnWidget = forms.fields()[static_cast<std::size_t>(at)].dict;
        while (drawnWidget.hasKey("/Kids")) drawnWidget = drawnWidget.getKey("/Kids").getArrayItem(0);
        checkRuns(drawnGlyphs(drawnWidget), value, std::string(form.file) + " " + form.fonts);
    }
    // The first widget of the field shows the value.
    const Shown shown = shownWidget(pdf, forms.fields()[static_cast<std::size_t>(at)].dict);
    const int page = shown.page;
    const auto rect = shown.rect, box = shown.media;
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

namespace {

// A grey rendering (poppler) of a page rectangle in points, `dpi` dots an inch: one byte a pixel.
struct Crop {
    int width = 0, height = 0;
    std::vector<unsigned char> px;
    bool ink(int x, int y) const { return px[static_cast<std::size_t>(y * width + x)] < 128; }
};

Crop render(const std::string& pdfFile, int page, double x, double y, double w, double h, int dpi,
            const fs::path& dir) {
    auto prefix = (dir / "crop").string();
    double s = dpi / 72.0;
    runProgram({"pdftoppm", "-r", std::to_string(dpi), "-gray", "-singlefile", "-f", std::to_string(page + 1), "-l",
                std::to_string(page + 1), "-x", std::to_string(static_cast<int>(x * s)), "-y",
                std::to_string(static_cast<int>(y * s)), "-W", std::to_string(static_cast<int>(w * s)), "-H",
                std::to_string(static_cast<int>(h * s)), pdfFile, prefix});
    Crop c;
    std::ifstream in(prefix + ".pgm", std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> c.width >> c.height >> maxval;
    in.get();
    c.px.resize(static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height));
    in.read(reinterpret_cast<char*>(c.px.data()), static_cast<std::streamsize>(c.px.size()));
    if (magic != "P5" || !in) c.width = c.height = 0;
    return c;
}

// The widget's normal appearance with its clip taken out ("re W n" becomes "re n").
void unclip(QPDFObjectHandle widget) {
    auto n = widget.getKey("/AP").getKey("/N");
    std::string content = bytesOf(n);
    for (auto at = content.find(" re W n"); at != std::string::npos; at = content.find(" re W n", at))
        content.replace(at, 7, " re n");
    n.replaceStreamData(content, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
}

}  // namespace

// Values in short boxes of real forms lose no ink to the clip where the box can hold the line's
// ink: each widget's value is rendered (poppler) with its clip and without it and the two
// compared. Where the line is taller than the box (an 18 pt font in a 14 pt box), what the clip
// takes lies in the box's lower half: descenders and feet go, accents stay.
TEST(FormScripts, TheClipCutsNoInkTheBoxCanHold) {
    struct Box {
        const char* file;
        const char* field;
    } const boxes[] = {
        {"sample_form.pdf", "Name_Middle"},                                         // Acrobat: 14.4 pt, Helvetica 10
        {"issue17492.pdf", "firstName"},                                            // 14.2 pt, 11 pt
        {"libreoffice-form.pdf", "Birthday"},                                       // 12 pt, 11 pt
        {"bug1815476.pdf", "topmostSubform[0].Page1[0].YY_FECHA[0]"},               // 16.85 pt, Arial 12
        {"annotation-text-widget.pdf", "formulier1[0].#subform[0].Tekstveld1[0]"},  // Acrobat: Myriad 10
        {"form-fields-and-annotations-shared.pdf", "Text Box 1"},                   // 14.15 pt, 18 pt
    };
    const char* values[] = {
        "\xC5\x81\xC3\xB3"
        "d\xC5\xBA \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87",                                            // Łódź Żółć
        "\xE3\x81\x8C",                                                                          // が
        "\xD8\xB9\xD9\x84\xD9\x8A",                                                              // علي
        "Nguy\xE1\xBB\x85n",                                                                     // Nguyễn
        "\xE0\xA4\xA8\xE0\xA4\xA8\xE0\xA5\x8D\xE0\xA4\xA6\xE0\xA4\xBF\xE0\xA4\xA8\xE0\xA5\x80",  // नन्दिनी
    };
    constexpr int kDpi = 216;
    constexpr double kMargin = 12;
    TempDir dir;
    for (const auto& b : boxes) {
        for (const char* value : values) {
            SCOPED_TRACE(std::string(b.file) + " " + value);
            QPDF pdf;
            pdf.processFile((kPdfs + b.file).c_str());
            FormFields forms(pdf);
            int at = forms.find(quill::pdf::utf8ToUtf16(b.field));
            ASSERT_GE(at, 0);
            const auto [widget, page, r, media] = shownWidget(pdf, forms.fields()[static_cast<std::size_t>(at)].dict);
            double x = r.llx - media.llx - kMargin, y = media.ury - r.ury - kMargin;
            double w = r.urx - r.llx + 2 * kMargin, h = r.ury - r.lly + 2 * kMargin;
            // Without a value, with it, with it and no clip.
            Crop shown[3];
            for (int pass = 0; pass < 3; ++pass) {
                if (pass < 2) {
                    forms.setValue(static_cast<std::size_t>(at),
                                   QPDFObjectHandle::newUnicodeString(pass == 0 ? "" : value));
                    forms.drawPending();
                } else {
                    unclip(widget);
                }
                auto saved = (dir.path / "saved.pdf").string(), flat = (dir.path / "flat.pdf").string();
                QPDFWriter writer(pdf, saved.c_str());
                writer.setPreserveEncryption(false);
                writer.write();
                int status = runProgram({"qpdf", "--flatten-annotations=all", saved, flat});
                ASSERT_TRUE(status == 0 || status == 3);
                shown[pass] = render(flat, page, x, y, w, h, kDpi, dir.path);
                ASSERT_GT(shown[pass].width, 0);
                ASSERT_EQ(shown[pass].width, shown[0].width);
                ASSERT_EQ(shown[pass].height, shown[0].height);
            }
            const Crop &empty = shown[0], &clipped = shown[1], &whole = shown[2];
            // The value's own ink unclipped, what of it the clip took, and where, in pixels.
            const double s = kDpi / 72.0;
            const int boxTop = static_cast<int>(kMargin * s), boxBottom = static_cast<int>((h - kMargin) * s);
            int lost = 0, lostAbove = 0, inkTop = whole.height, inkBottom = -1;
            for (int py = 0; py < whole.height; ++py)
                for (int px = 0; px < whole.width; ++px) {
                    if (!whole.ink(px, py) || empty.ink(px, py)) continue;
                    inkTop = std::min(inkTop, py);
                    inkBottom = std::max(inkBottom, py);
                    if (clipped.ink(px, py)) continue;
                    ++lost;
                    if (py < (boxTop + boxBottom) / 2) ++lostAbove;
                }
            ASSERT_GE(inkBottom, inkTop) << "nothing drawn";
            bool holds = inkBottom - inkTop + 1 <= boxBottom - boxTop - static_cast<int>(2 * s);
            if (holds) {
                EXPECT_LE(lost, 4) << "ink rows " << inkTop << "-" << inkBottom << " in box rows " << boxTop << "-"
                                   << boxBottom;
            }
            EXPECT_EQ(lostAbove, 0) << "the clip cut the top of the line";
        }
    }
}

// A check box whose own on appearance names a font its resources lack (FormTestFromOo.pdf, a
// /NeedAppearances form, with /ZaDi taken out of its appearances' fonts) shows its mark once
// set: the appearance is drawn anew from /MK /CA in ZapfDingbats, and poppler draws it. The same
// form whose on appearance has its font keeps that appearance; the two are read in one process,
// in both orders, so what is remembered of one stream's bytes decides nothing for the other's
// resources.
TEST(FormScripts, AnOnAppearanceThatCannotBeDrawnIsDrawnAnew) {
    TempDir dir;
    for (const bool lackingFirst : {false, true}) {
        for (const bool lacking : {lackingFirst, !lackingFirst}) {
            SCOPED_TRACE(std::string(lacking ? "lacking" : "whole") + (lackingFirst ? " (lacking first)" : ""));
            QPDF pdf;
            pdf.processFile((kPdfs + "FormTestFromOo.pdf").c_str());
            FormFields forms(pdf);
            const int at = forms.find(u"CheckBox1");
            ASSERT_GE(at, 0);
            QPDFObjectHandle widget = forms.fields()[static_cast<std::size_t>(at)].dict;
            auto on = widget.getKey("/AP").getKey("/N").getKey("/Yes");
            const std::string before = bytesOf(on);
            auto fonts = on.getDict().getKey("/Resources").getKey("/Font");
            ASSERT_TRUE(fonts.hasKey("/ZaDi"));
            if (lacking) fonts.removeKey("/ZaDi");
            auto file = (dir.path / "checked.pdf").string();
            long ink[2] = {0, 0};
            for (int pass = 0; pass < 2; ++pass) {
                forms.setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newString(pass == 0 ? "Off" : "Yes"));
                QPDFWriter writer(pdf, file.c_str());
                writer.write();
                QPDFObjectHandle page = pdf.getAllPages()[static_cast<std::size_t>(pageOf(pdf, widget))];
                auto media = page.getKey("/MediaBox").getArrayAsRectangle();
                ink[pass] = inkInside(file, pageOf(pdf, widget), widget.getKey("/Rect").getArrayAsRectangle(),
                                      media.ury - media.lly, dir.path);
            }
            auto drawn = widget.getKey("/AP").getKey("/N").getKey("/Yes");
            EXPECT_TRUE(drawn.getDict().getKey("/Resources").getKey("/Font").hasKey("/ZaDi"));
            EXPECT_EQ(drawn.isSameObjectAs(on), !lacking);
            if (lacking)
                EXPECT_NE(bytesOf(drawn).find("(8) Tj"), std::string::npos) << bytesOf(drawn);  // /MK /CA: a cross
            else
                EXPECT_EQ(bytesOf(drawn), before);
            EXPECT_GT(ink[1], ink[0] + 5) << "no mark drawn";
        }
    }
}
