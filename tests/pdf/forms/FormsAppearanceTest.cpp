// Drawn field values, checked where it counts: on a page rendered by poppler (pdftoppm).
// Alignment, multi-line wrapping, auto size, comb cells, and what an existing appearance keeps.
#include "quill/pdf/Forms.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "quill/pdf/Warnings.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <array>
#include <map>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <regex>
#include <sstream>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using quill::pdf::FormFields;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";
constexpr int kScale = 3;  // pixels a point

struct TempDir : quill::testsupport::TempDir {
    TempDir() : quill::testsupport::TempDir("engine_forms_ap") {}
};

// Runs a program (never a shell) with its output dropped.
void runQuietly(const std::vector<std::string>& argv) {
    quill::testsupport::runProgram(argv);
}

// A one-page form whose fields draw with Helvetica (/Helv) unless told otherwise.
struct Form {
    QPDF pdf;
    QPDFObjectHandle page, acroForm;

    explicit Form(const std::string& acroFormExtra = "") {
        pdf.emptyPDF();
        page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 400 400] /Resources << >> /Annots [] >>"));
        acroForm = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Fields [] /DR << /Font << >> >> " + acroFormExtra + " >>"));
        font("/Helv", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
        pdf.getRoot().replaceKey("/AcroForm", acroForm);
        pdf.addPage(page, false);
    }
    void font(const std::string& name, const std::string& dict) {
        acroForm.getKey("/DR").getKey("/Font").replaceKey(name, pdf.makeIndirectObject(QPDFObjectHandle::parse(dict)));
    }
    // A widget field; `parent` makes it a kid of that field instead of a top field.
    QPDFObjectHandle field(const std::string& dict, QPDFObjectHandle parent = QPDFObjectHandle::newNull()) {
        auto w = pdf.makeIndirectObject(QPDFObjectHandle::parse(dict));
        w.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
        w.replaceKey("/Subtype", QPDFObjectHandle::newName("/Widget"));
        w.replaceKey("/P", page);
        page.getKey("/Annots").appendItem(w);
        if (parent.isNull()) {
            acroForm.getKey("/Fields").appendItem(w);
        } else {
            w.replaceKey("/Parent", parent);
            parent.getKey("/Kids").appendItem(w);
        }
        return w;
    }
    QPDFObjectHandle parentField(const std::string& dict) {
        auto p = pdf.makeIndirectObject(QPDFObjectHandle::parse(dict));
        p.replaceKey("/Kids", QPDFObjectHandle::newArray());
        acroForm.getKey("/Fields").appendItem(p);
        return p;
    }
    void set(FormFields& forms, const std::u16string& name, const std::string& value) {
        int i = forms.find(name);
        ASSERT_GE(i, 0);
        forms.setValue(static_cast<std::size_t>(i), QPDFObjectHandle::newString(value));
    }
    // The same for a UTF-8 value, stored as PDF text.
    void setText(FormFields& forms, const std::u16string& name, const std::string& utf8) {
        int i = forms.find(name);
        ASSERT_GE(i, 0);
        forms.setValue(static_cast<std::size_t>(i), QPDFObjectHandle::newUnicodeString(utf8));
    }
};

// The page rendered in grey, one byte a pixel, top row first.
struct Rendered {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
    double pageHeight = 400;

    Rendered(QPDF& pdf, const fs::path& dir) {
        auto file = (dir / "page.pdf").string();
        QPDFWriter w(pdf, file.c_str());
        w.write();
        auto prefix = (dir / "page").string();
        runQuietly({"pdftoppm", "-r", std::to_string(72 * kScale), "-gray", "-singlefile", file, prefix});
        std::ifstream in(prefix + ".pgm", std::ios::binary);
        std::string magic;
        int maxval = 0;
        in >> magic >> width >> height >> maxval;
        in.get();
        pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
        if (magic != "P5" || !in) width = height = 0;
    }

    bool ink(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] <
               128;
    }

    // Where ink lies inside a rectangle given in page points: extents in points, the runs of
    // rows with ink (text lines) and of columns with ink (glyphs), each as [from, to] points.
    struct Ink {
        double left = 1e9, right = -1e9, top = -1e9, bottom = 1e9;
        std::vector<std::pair<double, double>> rows, columns;
        bool any() const { return right >= left; }
    };
    Ink inkIn(double llx, double lly, double urx, double ury) const {
        Ink out;
        int x0 = static_cast<int>(llx * kScale), x1 = static_cast<int>(urx * kScale);
        int y0 = static_cast<int>((pageHeight - ury) * kScale), y1 = static_cast<int>((pageHeight - lly) * kScale);
        std::vector<bool> rowInk(static_cast<std::size_t>(y1 - y0), false),
            colInk(static_cast<std::size_t>(x1 - x0), false);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height && ink(x, y)) {
                    rowInk[static_cast<std::size_t>(y - y0)] = colInk[static_cast<std::size_t>(x - x0)] = true;
                    out.left = std::min(out.left, static_cast<double>(x) / kScale);
                    out.right = std::max(out.right, static_cast<double>(x + 1) / kScale);
                    out.top = std::max(out.top, pageHeight - static_cast<double>(y) / kScale);
                    out.bottom = std::min(out.bottom, pageHeight - static_cast<double>(y + 1) / kScale);
                }
        auto runs = [](const std::vector<bool>& on, double origin, double sign) {
            std::vector<std::pair<double, double>> r;
            for (std::size_t k = 0; k < on.size();) {
                if (!on[k]) {
                    ++k;
                    continue;
                }
                std::size_t e = k;
                while (e < on.size() && on[e]) ++e;
                r.emplace_back(origin + sign * static_cast<double>(k) / kScale,
                               origin + sign * static_cast<double>(e) / kScale);
                k = e;
            }
            return r;
        };
        out.rows = runs(rowInk, ury, -1);
        out.columns = runs(colInk, llx, 1);
        return out;
    }
};

std::string appearanceText(QPDFObjectHandle widget) {
    auto n = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N") : QPDFObjectHandle::newNull();
    if (!n.isStream()) return {};
    auto data = n.getStreamData(qpdf_dl_all);
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The size operand of the appearance's Tf.
double drawnSize(const std::string& content) {
    std::istringstream in(content);
    std::string token, last;
    double size = -1;
    while (in >> token) {
        if (token == "Tf") size = std::atof(last.c_str());
        last = token;
    }
    return size;
}

}  // namespace

// Left, centre and right, from the field, its parent or the form's default; the text is
// measured with Helvetica's widths, or with a font's own /Widths when it has them.
TEST(FormAppearance, QuaddingPutsTheValueAtTheLeftCentreOrRight) {
    TempDir dir;
    Form form("/Q 2");
    form.font(
        "/Wide",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding"
        " /FirstChar 32 /LastChar 126 /Widths [" +
            [] {
                std::string w;
                for (int k = 32; k <= 126; ++k) w += " 900";
                return w;
            }() +
            "] >>");
    form.font("/Cour", "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>");
    form.field("<< /FT /Tx /T (left) /Q 0 /Rect [50 350 250 370] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (centre) /Q 1 /Rect [50 320 250 340] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (right) /Rect [50 290 250 310] /DA (/Helv 10 Tf 0 g) >>");  // the form's /Q 2
    auto parent = form.parentField("<< /FT /Tx /T (group) /Q 1 /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /T (kid) /Rect [50 260 250 280] >>", parent);
    form.field("<< /FT /Tx /T (wide) /Rect [50 230 250 250] /DA (/Wide 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (mono) /Rect [50 200 250 220] /DA (/Cour 10 Tf 0 g) >>");
    form.field(
        "<< /FT /Ch /Ff 131072 /T (combo) /Q 2 /Rect [50 170 250 190] /DA (/Helv 10 Tf 0 g)"
        " /Opt [(WWW Mixed iii)] >>");
    FormFields forms(form.pdf);
    for (auto name : {u"left", u"centre", u"right", u"group.kid"}) form.set(forms, name, "Quillmark 42 iii WWW");
    form.set(forms, u"wide", "iiii");
    form.set(forms, u"mono", "ilil WWW");
    form.set(forms, u"combo", "WWW Mixed iii");

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    auto left = page.inkIn(50, 350, 250, 370);
    auto centre = page.inkIn(50, 320, 250, 340);
    auto right = page.inkIn(50, 290, 250, 310);
    auto kid = page.inkIn(50, 260, 250, 280);
    ASSERT_TRUE(left.any() && centre.any() && right.any() && kid.any());
    EXPECT_NEAR(left.left, 52, 1.5);
    EXPECT_NEAR((centre.left + centre.right) / 2, 150, 1.5);
    EXPECT_NEAR(right.right, 248, 1.5);
    EXPECT_NEAR((kid.left + kid.right) / 2, 150, 1.5);
    // Same text, same width wherever it stands.
    EXPECT_NEAR(right.right - right.left, left.right - left.left, 0.7);
    // Vertically in the middle of the box.
    EXPECT_NEAR((left.top + left.bottom) / 2, 360, 2.5);

    for (auto [y, what] : {std::pair{200, "mono"}, std::pair{170, "combo"}}) {
        SCOPED_TRACE(what);
        auto ink = page.inkIn(50, y, 250, y + 20);
        ASSERT_TRUE(ink.any());
        EXPECT_NEAR(ink.right, 248, 1.5);
    }
    // Four glyphs 9 points apart, the first 36 points from the right edge (plus the i's
    // side bearing): the font's own widths were used.
    auto wide = page.inkIn(50, 230, 250, 250);
    ASSERT_EQ(wide.columns.size(), 4u);
    EXPECT_NEAR(wide.columns[3].first - wide.columns[0].first, 27, 1.0);
    EXPECT_NEAR(wide.columns[0].first, 248 - 36 + 0.7, 1.2);
}

// A multi-line field breaks at CR, LF and CR LF and wraps words to its width, line after line
// from the top; with auto size everything fits in the box.
TEST(FormAppearance, MultiLineTextBreaksAndWrapsInsideTheBox) {
    TempDir dir;
    Form form;
    form.field("<< /FT /Tx /Ff 4096 /T (notes) /Rect [20 250 170 380] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 4096 /Q 2 /T (right) /Rect [200 250 350 380] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 4096 /T (auto) /Rect [20 20 120 80] /DA (/Helv 0 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (single) /Rect [200 40 300 60] /DA (/Helv 0 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 4096 /T (word) /Rect [200 100 260 200] /DA (/Helv 10 Tf 0 g) >>");
    FormFields forms(form.pdf);
    std::string text = "First line\nSecond\r\nThird one, a paragraph long enough to wrap twice in this box\rEnd";
    form.set(forms, u"notes", text);
    form.set(forms, u"right", text);
    std::string lots;
    for (int k = 0; k < 12; ++k) lots += "many words fill ";
    form.set(forms, u"auto", lots + "LAST");
    form.set(forms, u"single", "A single line far too long for its narrow box");
    form.set(forms, u"word", "Unbreakablewordwiderthanthebox");

    auto notes = appearanceText(forms.fields()[static_cast<std::size_t>(forms.find(u"notes"))].dict);
    std::size_t lines = count(notes, " Tj");
    EXPECT_EQ(lines, 5u) << notes;  // the third paragraph takes two lines
    EXPECT_NE(notes.find("(enough to wrap twice in this box)"), std::string::npos);
    EXPECT_NE(notes.find("(First line)"), std::string::npos);
    EXPECT_NE(notes.find("(Second)"), std::string::npos);
    EXPECT_NE(notes.find("(End)"), std::string::npos);

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    auto ink = page.inkIn(0, 240, 190, 400);
    ASSERT_TRUE(ink.any());
    EXPECT_EQ(ink.rows.size(), lines);
    EXPECT_GE(ink.left, 21.5);
    EXPECT_LE(ink.right, 168);
    EXPECT_LE(ink.top, 378.7);
    EXPECT_GE(ink.top, 366);  // the first line sits at the top
    EXPECT_GE(ink.bottom, 251);
    for (std::size_t k = 1; k < ink.rows.size(); ++k)  // about 1.15 x 10 points apart
        EXPECT_NEAR(ink.rows[k - 1].first - ink.rows[k].first, 11.5, 1.5) << k;

    // Right-aligned, every line ends at the right edge.
    for (auto& [top, bottom] : page.inkIn(200, 250, 350, 380).rows) {
        auto line = page.inkIn(200, bottom, 350, top);
        EXPECT_NEAR(line.right, 348, 1.5);
    }

    auto autoSized = page.inkIn(20, 20, 120, 80);
    auto autoDrawn = appearanceText(forms.fields()[static_cast<std::size_t>(forms.find(u"auto"))].dict);
    EXPECT_LT(drawnSize(autoDrawn), 10);
    EXPECT_NE(autoDrawn.find("LAST) Tj"), std::string::npos);  // the end of the text is drawn
    EXPECT_GE(autoSized.bottom, 21);
    EXPECT_LE(autoSized.right, 119);
    EXPECT_EQ(autoSized.rows.size(), count(autoDrawn, " Tj"));

    // A word wider than the box is broken between characters.
    auto word = page.inkIn(190, 90, 280, 210);
    EXPECT_GE(word.rows.size(), 3u);
    EXPECT_LE(word.right, 259);

    // A single line with auto size shrinks to the box's width.
    auto single = page.inkIn(190, 30, 320, 70);
    EXPECT_GE(single.left, 201);
    EXPECT_LE(single.right, 299);
}

// A value of megabytes in a multi-line box costs what the box shows: lines past its bottom are
// neither laid out nor drawn, whether the value breaks into lines or is one paragraph.
TEST(FormAppearance, AHugeMultiLineValueDrawsWhatTheBoxShows) {
    Form form;
    form.field("<< /FT /Tx /Ff 4096 /T (lines) /Rect [20 250 170 380] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 4096 /T (paragraph) /Rect [200 250 350 380] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 4096 /T (auto) /Rect [20 20 120 80] /DA (/Helv 0 Tf 0 g) >>");
    FormFields forms(form.pdf);
    std::string lines, paragraph;
    while (lines.size() < 10u << 20) lines += "The quick brown fox jumps over the lazy dog\n";
    while (paragraph.size() < 10u << 20) paragraph += "jumps over ";
    const auto started = std::chrono::steady_clock::now();
    form.set(forms, u"lines", lines);
    form.set(forms, u"paragraph", paragraph);
    form.set(forms, u"auto", lines);
    forms.drawPending();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));  // linear, on a busy machine
    for (const char16_t* name : {u"lines", u"paragraph", u"auto"}) {
        auto drawn = appearanceText(forms.fields()[static_cast<std::size_t>(forms.find(name))].dict);
        EXPECT_LT(drawn.size(), 20000u);
        EXPECT_GE(count(drawn, " Tj"), 6u);  // the box full
    }
}

// A comb field: one character a cell, each centred in its cell. A password shows bullets.
TEST(FormAppearance, CombFieldsCentreOneCharacterInEachCellAndPasswordsHide) {
    TempDir dir;
    Form form;
    auto password = form.field("<< /FT /Tx /Ff 8192 /T (secret) /Rect [40 100 160 120] /DA (/Helv 10 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 16777216 /MaxLen 6 /T (code) /Rect [40 300 160 330] /DA (/Helv 14 Tf 0 g) >>");
    form.field("<< /FT /Tx /Ff 16777216 /T (nolimit) /Rect [40 200 160 230] /DA (/Helv 14 Tf 0 g) >>");
    // A letter and its combining mark share a cell; /Q 1 and 2 centre (whole cells) or right-align.
    const char* const kAligned[] = {"left", "centre", "right"};
    for (int q = 0; q < 3; ++q)
        form.field("<< /FT /Tx /Ff 16777216 /MaxLen 6 /Q " + std::to_string(q) + " /T (" + kAligned[q] +
                   ") /Rect [200 " + std::to_string(300 - 50 * q) + " 320 " + std::to_string(330 - 50 * q) +
                   "] /DA (/Helv 14 Tf 0 g) >>");
    FormFields forms(form.pdf);
    EXPECT_THROW(form.set(forms, u"code", "W1i2M3x"), std::exception);  // longer than the cells: refused
    form.set(forms, u"code", "W1i2M3");
    form.set(forms, u"nolimit", "W1i");
    for (auto* name : {u"left", u"centre", u"right"})
        form.setText(forms, name, "Re\xCC\x81s\xCC\x81");  // R, e + acute, s + acute
    forms.setValue(static_cast<std::size_t>(forms.find(u"secret")), QPDFObjectHandle::newUnicodeString("p\xc3\xa4ss"));
    EXPECT_NE(appearanceText(password).find("<95959595> Tj"), std::string::npos) << appearanceText(password);
    EXPECT_EQ(appearanceText(password).find("ss"), std::string::npos);

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    auto ink = page.inkIn(40, 300, 160, 330);
    ASSERT_EQ(ink.columns.size(), 6u);
    for (std::size_t k = 0; k < 6; ++k) {
        double centre = (ink.columns[k].first + ink.columns[k].second) / 2;
        EXPECT_NEAR(centre, 40 + 20 * static_cast<double>(k) + 10, 1.2) << k;
    }
    for (int q = 0; q < 3; ++q) {
        double bottom = 300 - 50 * q;
        auto cells = page.inkIn(200, bottom, 320, bottom + 30);
        ASSERT_EQ(cells.columns.size(), 3u)
            << kAligned[q] << " " << appearanceText(form.page.getKey("/Annots").getArrayItem(3 + q));
        int first = q == 0 ? 0 : q == 1 ? 1 : 3;
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR((cells.columns[k].first + cells.columns[k].second) / 2,
                        200 + 20 * static_cast<double>(first + static_cast<int>(k)) + 10, 2)
                << kAligned[q] << " " << k;
    }
    // Without /MaxLen it is an ordinary field: the text starts at the left.
    auto plain = page.inkIn(40, 200, 160, 230);
    ASSERT_TRUE(plain.any());
    EXPECT_LT(plain.right - plain.left, 40);
    EXPECT_NEAR(plain.left, 42, 1.5);
}

// An appearance that has a background and a border keeps them; only its value section is
// drawn anew, however often the value is set.
TEST(FormAppearance, ExistingAppearanceKeepsItsBackgroundAndBorder) {
    TempDir dir;
    Form form;
    auto w = form.field("<< /FT /Tx /T (boxed) /Rect [50 300 250 330] /DA (/Helv 12 Tf 0 g) /MK << /BG [0.8] >> >>");
    auto normal = QPDFObjectHandle::newStream(
        &form.pdf,
        "0.8 g 0 0 200 30 re f\n/Tx BMC\nBT /Helv 12 Tf 2 10 Td (stale) Tj ET\nEMC\n0 G 1 w 0.5 0.5 199 29 re s\n");
    normal.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /BBox [0 0 200 30] >>"));
    w.replaceKey("/AP", QPDFObjectHandle::parse("<< >>"));
    w.getKey("/AP").replaceKey("/N", normal);
    FormFields forms(form.pdf);
    for (int k = 0; k < 5; ++k) form.set(forms, u"boxed", "Fresh " + std::to_string(k));
    auto drawn = appearanceText(w);
    EXPECT_EQ(drawn.find("(stale)"), std::string::npos);
    EXPECT_EQ(count(drawn, "Tj"), 1u) << drawn;
    EXPECT_NE(drawn.find("(Fresh 4)"), std::string::npos);
    EXPECT_EQ(drawn.find("0.8 g 0 0 200 30 re f"), 0u);
    EXPECT_NE(drawn.find("0.5 0.5 199 29 re s"), std::string::npos);
    // The font came from the form's resources into the appearance's own.
    EXPECT_TRUE(w.getKey("/AP").getKey("/N").getDict().getKey("/Resources").getKey("/Font").hasKey("/Helv"));

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    auto inside = page.inkIn(53, 303, 247, 327);
    EXPECT_NEAR(inside.left, 52.5, 1.5);
    EXPECT_EQ(page.inkIn(60, 290, 240, 340).rows.size(), 3u);  // border top, text, border bottom
}

// A normal appearance named by one widget alone is redrawn in place (it keeps its number);
// one another widget also names (by /N, or as a state of a button's /D) gets a new stream, and
// the other widget keeps showing the old one. Drawn at once and deferred to drawPending alike.
TEST(FormAppearance, SharedAppearanceStreamsAreNotRedrawnInPlace) {
    enum class Sharer { none, textNormal, buttonDown };
    for (bool deferred : {false, true}) {
        for (Sharer sharer : {Sharer::none, Sharer::textNormal, Sharer::buttonDown}) {
            SCOPED_TRACE(std::to_string(deferred) + " " + std::to_string(static_cast<int>(sharer)));
            Form form;
            auto stream = QPDFObjectHandle::newStream(&form.pdf, "/Tx BMC\nEMC\n");
            stream.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /BBox [0 0 200 30] >>"));
            auto w = form.field("<< /FT /Tx /T (mine) /Rect [50 300 250 330] /DA (/Helv 12 Tf 0 g) /AP << >> >>");
            w.getKey("/AP").replaceKey("/N", stream);
            QPDFObjectHandle other;
            if (sharer == Sharer::textNormal) {
                other = form.field("<< /FT /Tx /T (other) /Rect [50 200 250 230] /DA (/Helv 12 Tf 0 g) /AP << >> >>");
                other.getKey("/AP").replaceKey("/N", stream);
            } else if (sharer == Sharer::buttonDown) {
                other = form.field("<< /FT /Btn /T (box) /Rect [50 100 70 120] /AP << /D << >> >> >>");
                other.getKey("/AP").getKey("/D").replaceKey("/Yes", stream);
            }
            FormFields forms(form.pdf, {}, deferred);
            form.set(forms, u"mine", "New");
            if (deferred) forms.drawPending();
            auto drawn = w.getKey("/AP").getKey("/N");
            EXPECT_EQ(drawn.getObjGen() == stream.getObjGen(), sharer == Sharer::none);
            EXPECT_NE(appearanceText(w).find("(New)"), std::string::npos);
            if (sharer == Sharer::none) continue;
            auto kept = sharer == Sharer::textNormal ? other.getKey("/AP").getKey("/N")
                                                     : other.getKey("/AP").getKey("/D").getKey("/Yes");
            EXPECT_EQ(kept.getObjGen(), stream.getObjGen());
            auto data = kept.getStreamData(qpdf_dl_all);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()), "/Tx BMC\nEMC\n");
        }
    }
}

// A widget without an appearance gets the background and border its /MK asks for, and text
// that turns with it (/R 90: reading upwards).
TEST(FormAppearance, FreshAppearanceDrawsTheFrameAndTurnsWithTheWidget) {
    TempDir dir;
    Form form;
    auto turned = form.field(
        "<< /FT /Tx /T (turned) /Rect [300 100 330 300] /DA (/Helv 12 Tf 0 g)"
        " /MK << /R 90 /BC [0 0 1] /BG [0.9] >> >>");
    FormFields forms(form.pdf);
    form.set(forms, u"turned", "Turned text");
    auto n = turned.getKey("/AP").getKey("/N");
    ASSERT_TRUE(n.isStream());
    EXPECT_EQ(n.getDict().getKey("/BBox").unparse(), "[ 0 0 200 30 ]");
    auto drawn = appearanceText(turned);
    EXPECT_NE(drawn.find("0.9 g 0 0 200 30 re f"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("0 0 1 RG 1 w 0.5 0.5 199 29 re S"), std::string::npos) << drawn;

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    auto text = page.inkIn(303, 103, 327, 297);  // inside the border
    ASSERT_TRUE(text.any());
    EXPECT_GT(text.top - text.bottom, 50);  // runs up the page
    EXPECT_LT(text.right - text.left, 14);
    EXPECT_NEAR(text.bottom, 102, 1.5);  // from the turned box's start
    auto edge = page.inkIn(299, 99, 331, 301);
    EXPECT_NEAR(edge.left, 300, 0.5);
    EXPECT_NEAR(edge.top, 300, 0.5);
}

// A font the default appearance names but no resource holds: a standard font's name is
// drawn with that standard font; any other name (or none) with an embedded font.
TEST(FormAppearance, MissingFontsAreStandardFontsOrEmbeddedOnes) {
    TempDir dir;
    Form form;
    auto standard = form.field("<< /FT /Tx /T (std) /Q 2 /Rect [50 300 250 320] /DA (/Helvetica 10 Tf 0 g) >>");
    auto unknown = form.field("<< /FT /Tx /T (unknown) /Rect [50 250 250 270] /DA (/Nowhere 10 Tf 0 g) >>");
    auto none = form.field("<< /FT /Tx /T (none) /Rect [50 200 250 220] /DA (0 g) >>");
    FormFields forms(form.pdf);
    form.set(forms, u"std", "Standard WWW");
    form.set(forms, u"unknown", "Unknown");
    form.set(forms, u"none", "None");
    auto font = standard.getKey("/AP").getKey("/N").getDict().getKey("/Resources").getKey("/Font").getKey("/Helvetica");
    ASSERT_TRUE(font.isDictionary());
    EXPECT_EQ(font.getKey("/BaseFont").getName(), "/Helvetica");
    EXPECT_TRUE(unknown.getKey("/AP").getKey("/N").isStream());
    EXPECT_TRUE(none.getKey("/AP").getKey("/N").isStream());
    EXPECT_FALSE(form.acroForm.hasKey("/NeedAppearances"));
    // The unknown name is not written into the drawing, where it would name nothing.
    EXPECT_EQ(appearanceText(unknown).find("/Nowhere"), std::string::npos);

    Rendered page(form.pdf, dir.path);
    ASSERT_GT(page.width, 0);
    EXPECT_NEAR(page.inkIn(50, 300, 250, 320).right, 248, 1.5);
    EXPECT_TRUE(page.inkIn(50, 250, 250, 270).any());
    EXPECT_TRUE(page.inkIn(50, 200, 250, 220).any()) << appearanceText(none);
}

// A real multi-line field (an OpenOffice form) wraps inside its own widget.
TEST(FormAppearance, FixtureMultiLineFieldWrapsInsideItsWidget) {
    TempDir dir;
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processFile((kPdfs + "FormTestFromOo.pdf").c_str());
    FormFields forms(*pdf);
    std::size_t multi = forms.size();
    for (std::size_t i = 0; i < forms.size(); ++i) {
        auto ff = forms.fields()[i].dict.getKey("/Ff");
        if (ff.isInteger() && (ff.getIntValueAsInt() & 4096) && forms.effectiveKind(i) == "Tx") multi = i;
    }
    ASSERT_LT(multi, forms.size());
    forms.setValue(multi, QPDFObjectHandle::newString("One\nTwo words and then some more words to wrap the line"));
    auto widget = forms.fields()[multi].dict;
    auto drawn = appearanceText(widget);
    EXPECT_GE(count(drawn, " Tj"), 3u) << drawn;
    auto rect = widget.getKey("/Rect").getArrayAsRectangle();
    Rendered page(*pdf, dir.path);
    ASSERT_GT(page.width, 0);
    QPDFObjectHandle firstPage = pdf->getAllPages()[0];
    page.pageHeight = firstPage.getKey("/MediaBox").getArrayAsRectangle().ury;
    auto ink = page.inkIn(rect.llx + 2.5, rect.lly + 2.5, rect.urx - 2.5, rect.ury - 2.5);
    EXPECT_EQ(ink.rows.size(), count(drawn, " Tj"));
    EXPECT_LE(ink.right, rect.urx - 2.5);
    EXPECT_GE(ink.top, rect.ury - 20);  // from the top
}

// Text the flattened page gives back (qpdf flattens the widgets, pdftotext reads the page).
std::string flattenedText(QPDF& pdf, const fs::path& dir) {
    auto saved = (dir / "saved.pdf").string(), flat = (dir / "flat.pdf").string(), text = (dir / "text.txt").string();
    QPDFWriter w(pdf, saved.c_str());
    w.write();
    runQuietly({"qpdf", "--flatten-annotations=all", saved, flat});
    runQuietly({"pdftotext", "-enc", "UTF-8", flat, text});
    std::ifstream in(text);
    std::stringstream s;
    s << in.rdbuf();
    auto out = s.str();
    while (!out.empty() && (out.back() == '\n' || out.back() == '\f')) out.pop_back();
    return out;
}

// Acrobat's forms give Helvetica a /Differences encoding over the standard one: the codes it
// redefines show the very glyphs named, so Latin-1 letters and typographic punctuation are
// drawn in the field's font. A font that is not embedded and calls itself symbolic is trusted
// with ASCII only; the rest of its value comes from an embedded font.
TEST(FormFonts, DifferencesAreReadThroughGlyphNamesAndSymbolicFontsKeepToAscii) {
    TempDir dir;
    Form form;
    form.font("/Acro",
              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Type /Encoding /Differences [ 128 "
              "/bullet /dagger /daggerdbl /ellipsis /emdash /endash 141 /quotedblleft /quotedblright 160 /Euro 214 "
              "/Odieresis 223 /germandbls 246 /odieresis 252 /udieresis ] >> >>");
    form.font(
        "/Sym",
        "<< /Type /Font /Subtype /TrueType /BaseFont /Ubuntu /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar "
        "255 /FontDescriptor << /Type /FontDescriptor /FontName /Ubuntu /Flags 4 /Ascent 900 /Descent -200 >> >>");
    auto acro = form.field("<< /FT /Tx /T (acro) /Rect [20 300 380 330] /DA (/Acro 12 Tf 0 g) >>");
    auto sym = form.field("<< /FT /Tx /T (sym) /Rect [20 200 380 230] /DA (/Sym 12 Tf 0 g) >>");
    FormFields forms(form.pdf);
    const std::string value =
        "M\xC3\xBCller \xE2\x80\x93 \xE2\x80\x9CGr\xC3\xB6\xC3\x9F"
        "e\xE2\x80\x9D \xE2\x80\xA6 \xE2\x82\xAC";
    form.setText(forms, u"acro", value);
    auto drawn = appearanceText(acro);
    EXPECT_EQ(drawn.find("/QmFb"), std::string::npos) << drawn;  // no other font needed
    // ü endash “ ö ß ” ellipsis Euro at the codes the array gives them.
    for (const char* code : {"fc", "85", "8d", "f6", "df", "8e", "83", "a0"})
        EXPECT_NE(drawn.find(code), std::string::npos) << code << "\n" << drawn;

    form.setText(forms, u"sym", "M\xC3\xBCller");
    auto symDrawn = appearanceText(sym);
    // The word with a letter beyond ASCII is drawn whole in one embedded face.
    EXPECT_EQ(symDrawn.find("(M"), std::string::npos) << symDrawn;
    EXPECT_NE(symDrawn.find("/QmFb"), std::string::npos) << symDrawn;

    // Copied text is the value, whichever fonts drew it.
    auto text = flattenedText(form.pdf, dir.path);
    EXPECT_NE(text.find(value), std::string::npos) << text;
    EXPECT_NE(text.find("\nM\xC3\xBCller"), std::string::npos) << text;
}

// Values beyond the field's font share one embedded subset a face in the document, grown as
// values need glyphs; copying the drawn text gives the value back, right-to-left text included.
TEST(FormFonts, OneSubsetAFaceGrowsAndCopiesAsTheValue) {
    TempDir dir;
    Form form;
    auto a = form.field("<< /FT /Tx /T (a) /Rect [20 340 380 370] /DA (/Helv 12 Tf 0 g) >>");
    auto b = form.field("<< /FT /Tx /T (b) /Rect [20 280 380 310] /DA (/Helv 12 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (c) /Rect [20 220 380 250] /DA (/Helv 12 Tf 0 g) >>");
    form.field("<< /FT /Tx /T (d) /Rect [20 160 380 190] /DA (/Helv 12 Tf 0 g) >>");
    FormFields forms(form.pdf);
    const std::string cyrillic = "\xD0\x9B\xD0\xB5\xD1\x81\xD1\x8F";                              // Леся
    const std::string more = "\xD0\xA3\xD0\xBA\xD1\x80\xD0\xB0\xD1\x97\xD0\xBD\xD0\xBA\xD0\xB0";  // Українка
    const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D";
    const std::string cjk = "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD";
    form.setText(forms, u"a", cyrillic);
    auto fontsOf = [](QPDFObjectHandle widget) {
        return widget.getKey("/AP").getKey("/N").getDict().getKey("/Resources").getKey("/Font");
    };
    auto first = fontsOf(a);
    std::string faceName;
    for (auto& key : first.getKeys())
        if (key.rfind("/QmFb", 0) == 0) faceName = key;
    ASSERT_FALSE(faceName.empty());
    auto type0 = first.getKey(faceName);
    EXPECT_EQ(type0.getKey("/Subtype").getName(), "/Type0");
    EXPECT_EQ(type0.getKey("/Encoding").getName(), "/Identity-H");
    auto program = type0.getKey("/DescendantFonts").getArrayItem(0).getKey("/FontDescriptor").getKey("/FontFile2");
    ASSERT_TRUE(program.isStream());
    auto before = program.getStreamData(qpdf_dl_all)->getSize();

    form.setText(forms, u"b", cyrillic + " " + more);
    EXPECT_TRUE(fontsOf(b).getKey(faceName).isSameObjectAs(type0));  // the same subset, grown
    auto grown = type0.getKey("/DescendantFonts").getArrayItem(0).getKey("/FontDescriptor").getKey("/FontFile2");
    EXPECT_GT(grown.getStreamData(qpdf_dl_all)->getSize(), before);
    form.setText(forms, u"c", hebrew);
    // A character no installed font has (an emoji, with colour fonts left out) is not drawn;
    // the rest of the value is.
    form.setText(forms, u"d", cjk + "\xF0\x9F\x98\x80");

    auto text = flattenedText(form.pdf, dir.path);
    for (const auto* v : {&cyrillic, &hebrew, &cjk}) EXPECT_NE(text.find(*v), std::string::npos) << *v << "\n" << text;
    EXPECT_NE(text.find(cyrillic + " " + more), std::string::npos) << text;
    // A character left out is a warning the application logs, naming the field (a private-use
    // character: an emoji may have a font here).
    quill::pdf::takeWarnings();
    form.setText(forms, u"d", "x\xF4\x8F\xBF\xBD");
    flattenedText(form.pdf, dir.path);
    std::string warnings;
    for (const auto& w : quill::pdf::takeWarnings())
        if (w.severity == quill::pdf::Severity::kWarning) warnings += w.text + "\n";
    EXPECT_NE(warnings.find("field \"d\": 1 character(s) no installed font has were not drawn (the first U+10FFFD)"),
              std::string::npos)
        << warnings;
}

// A subset is cut once for a set of glyphs and served again to the next document that holds
// the same ones (a merge): the same program as cutting it would give, never another set's.
TEST(FormFonts, ASubsetCutAgainIsTheSameAndAnotherSetIsCutAfresh) {
    auto programOf = [](const std::string& value) {
        Form form;
        auto widget = form.field("<< /FT /Tx /T (a) /Rect [20 340 380 370] /DA (/Helv 12 Tf 0 g) >>");
        FormFields forms(form.pdf);
        form.setText(forms, u"a", value);
        for (auto& [key, font] :
             widget.getKey("/AP").getKey("/N").getDict().getKey("/Resources").getKey("/Font").ditems())
            if (key.rfind("/QmFb", 0) == 0) {
                auto descriptor = font.getKey("/DescendantFonts").getArrayItem(0).getKey("/FontDescriptor");
                auto program = descriptor.getKey("/FontFile2").isStream() ? descriptor.getKey("/FontFile2")
                                                                          : descriptor.getKey("/FontFile3");
                auto data = program.getStreamData(qpdf_dl_all);
                return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            }
        return std::string();
    };
    const std::string tokyo = "\xE6\x9D\xB1\xE4\xBA\xAC", kyoto = "\xE4\xBA\xAC\xE9\x83\xBD";  // 東京, 京都
    const std::string first = programOf(tokyo);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(programOf(tokyo), first);
    const std::string other = programOf(kyoto);
    ASSERT_FALSE(other.empty());
    EXPECT_NE(other, first);
    EXPECT_EQ(programOf(kyoto), other);
}

// A second fill session of a saved form embeds a new subset of the same face: its tag differs,
// so that no two different subsets in one file share a name.
TEST(FormFonts, SubsetTagsStayUniqueAcrossFillSessions) {
    TempDir dir;
    auto first = (dir.path / "first.pdf").string(), second = (dir.path / "second.pdf").string();
    {
        Form form;
        form.field("<< /FT /Tx /T (a) /Rect [20 340 380 370] /DA (/Helv 12 Tf 0 g) >>");
        form.field("<< /FT /Tx /T (b) /Rect [20 280 380 310] /DA (/Helv 12 Tf 0 g) >>");
        FormFields forms(form.pdf);
        form.setText(forms, u"a", "\xD0\x9B\xD0\xB5\xD1\x81\xD1\x8F");  // Леся
        QPDFWriter w(form.pdf, first.c_str());
        w.write();
    }
    QPDF pdf;
    pdf.processFile(first.c_str());
    {
        FormFields forms(pdf);
        forms.setValue(static_cast<std::size_t>(forms.find(u"b")),
                       QPDFObjectHandle::newUnicodeString("\xD0\x96\xD0\xB8\xD1\x82\xD0\xBE"));  // Жито
        QPDFWriter w(pdf, second.c_str());
        w.write();
    }
    QPDF saved;
    saved.processFile(second.c_str());
    std::map<std::string, std::string> programByName;
    for (auto& object : saved.getAllObjects()) {
        if (!object.isDictionary() || !object.getKey("/FontName").isName()) continue;
        auto program =
            object.getKey("/FontFile2").isStream() ? object.getKey("/FontFile2") : object.getKey("/FontFile3");
        if (!program.isStream()) continue;
        auto data = program.getStreamData(qpdf_dl_all);
        std::string bytes(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        auto [it, added] = programByName.emplace(object.getKey("/FontName").getName(), bytes);
        EXPECT_TRUE(added || it->second == bytes) << it->first;
    }
    EXPECT_GE(programByName.size(), 2u);
}

// Drawing waits for the document to be written: a field set many times is drawn once, with
// its last value, and a save draws what is pending.
TEST(FormFonts, DeferredDrawingHappensBeforeTheWrite) {
    Form form;
    auto w = form.field("<< /FT /Tx /T (late) /Rect [20 340 380 370] /DA (/Helv 12 Tf 0 g) >>");
    FormFields forms(form.pdf, {}, true);
    for (int k = 0; k < 5; ++k) form.set(forms, u"late", "Take " + std::to_string(k));
    EXPECT_TRUE(forms.hasPending());
    EXPECT_EQ(appearanceText(w).find("Take"), std::string::npos);
    forms.drawPending();
    EXPECT_FALSE(forms.hasPending());
    EXPECT_NE(appearanceText(w).find("(Take 4)"), std::string::npos);
    EXPECT_EQ(appearanceText(w).find("(Take 3)"), std::string::npos);
}

// A field whose font is a composite (Type0, Identity-H) embedded subset: the characters its
// /ToUnicode map names and its program holds are drawn in it; the others in an embedded font.
TEST(FormFonts, CompositeFieldFontShowsWhatItHolds) {
    TempDir dir;
    Form form;
    QPDF source;
    source.processFile((kPdfs + "russian.pdf").c_str());
    QPDFObjectHandle cyrillicFont;
    for (QPDFObjectHandle page : source.getAllPages())
        for (auto& [name, font] : page.getKey("/Resources").getKey("/Font").ditems())
            if (font.getKey("/Subtype").getName() == "/Type0") cyrillicFont = font;
    ASSERT_TRUE(cyrillicFont.isDictionary());
    form.acroForm.getKey("/DR").getKey("/Font").replaceKey("/Cyr", form.pdf.copyForeignObject(cyrillicFont));
    auto w = form.field("<< /FT /Tx /T (cyr) /Rect [20 300 380 330] /DA (/Cyr 12 Tf 0 g) >>");
    FormFields forms(form.pdf);
    // "простой" is in the subset; "Ж" is not.
    const std::string held = "\xD0\xBF\xD1\x80\xD0\xBE\xD1\x81\xD1\x82\xD0\xBE\xD0\xB9";
    form.setText(forms, u"cyr", held);
    auto drawn = appearanceText(w);
    EXPECT_EQ(drawn.find("/QmFb"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("/Cyr 12 Tf"), std::string::npos) << drawn;

    const std::string mixed = held + " \xD0\x96";
    form.setText(forms, u"cyr", mixed);
    EXPECT_NE(appearanceText(w).find("/QmFb"), std::string::npos);
    auto text = flattenedText(form.pdf, dir.path);
    EXPECT_NE(text.find(mixed), std::string::npos) << text;
}

// A multi-line field with right-to-left text wraps in reading order: its first words are on
// the top line, and every line copies back as the words it shows.
TEST(FormFonts, RightToLeftTextWrapsInReadingOrder) {
    TempDir dir;
    Form form;
    form.field("<< /FT /Tx /Ff 4096 /T (notes) /Rect [20 200 140 380] /DA (/Helv 12 Tf 0 g) >>");
    FormFields forms(form.pdf);
    const std::vector<std::string> words = {"\xD7\x90\xD7\x97\xD7\x93",                   // אחד
                                            "\xD7\xA9\xD7\xAA\xD7\x99\xD7\x99\xD7\x9D",   // שתיים
                                            "\xD7\xA9\xD7\x9C\xD7\x95\xD7\xA9",           // שלוש
                                            "\xD7\x90\xD7\xA8\xD7\x91\xD7\xA2",           // ארבע
                                            "\xD7\x97\xD7\x9E\xD7\xA9",                   // חמש
                                            "\xD7\xA9\xD7\xA9",                           // שש
                                            "\xD7\xA9\xD7\x91\xD7\xA2",                   // שבע
                                            "\xD7\xA9\xD7\x9E\xD7\x95\xD7\xA0\xD7\x94"};  // שמונה
    std::string value;
    for (auto& w : words) value += (value.empty() ? "" : " ") + w;
    form.setText(forms, u"notes", value + " " + value);
    auto text = flattenedText(form.pdf, dir.path);
    // The first word comes before the last of the first copy in the extracted text.
    auto first = text.find(words.front()), last = text.find(words.back());
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(last, std::string::npos) << text;
    EXPECT_LT(first, last) << text;
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 2) << text;  // wrapped
}

// A list box whose options its font cannot show lists them with embedded fonts, the chosen
// one highlighted, instead of losing its appearance.
TEST(FormFonts, ListBoxWithOptionsBeyondItsFontListsThemAll) {
    TempDir dir;
    Form form;
    auto list = form.field(
        "<< /FT /Ch /T (city) /Rect [20 250 200 330] /DA (/Helv 10 Tf 0 g) /Opt [ <FEFF041A04380457043200200031> "
        "<FEFF67714EAC> (Paris) ] >>");
    FormFields forms(form.pdf);
    form.setText(forms, u"city", "\xE6\x9D\xB1\xE4\xBA\xAC");  // 東京
    auto drawn = appearanceText(list);
    EXPECT_NE(drawn.find("/QmFb"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find(" re f"), std::string::npos) << drawn;  // the highlight
    auto text = flattenedText(form.pdf, dir.path);
    for (const char* option : {"\xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2 1", "\xE6\x9D\xB1\xE4\xBA\xAC", "Paris"})
        EXPECT_NE(text.find(option), std::string::npos) << option << "\n" << text;
    // One highlight, for the chosen option only.
    EXPECT_EQ(count(drawn, " re f"), 1u) << drawn;
    form.setText(forms, u"city", "Nowhere");
    EXPECT_EQ(count(appearanceText(list), " re f"), 0u);
}

namespace {

// Every widget of a terminal text field or combo box whose default appearance asks for auto size (0 Tf) and
// whose own appearance (drawn by the form's author) shows its value, with that appearance's size.
std::vector<std::pair<std::size_t, double>> autoSizedWithTheirSize(FormFields& forms) {
    std::vector<std::pair<std::size_t, double>> out;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        auto dict = forms.fields()[i].dict;
        QPDFFormFieldObjectHelper field(dict);
        bool combo = forms.effectiveKind(i) == "Ch" && (field.getFlags() & (1 << 17));
        if ((forms.effectiveKind(i) != "Tx" && !combo) || !dict.hasKey("/Rect") || !forms.value(i).isString() ||
            forms.value(i).getUTF8Value().empty())
            continue;
        if ((field.getFlags() & ((1 << 12) | (1 << 24))) || drawnSize(field.getDefaultAppearance() + " ") != 0)
            continue;
        double size = drawnSize(appearanceText(dict));
        if (size > 0) out.emplace_back(i, size);
    }
    return out;
}

}  // namespace

// Auto size: a value set again is drawn at the size Acrobat drew it (the largest at which it fits
// the box's height and width), and near the size another writer (sample_form) drew it.
TEST(FormAppearance, AutoSizeFillsTheBoxAsAcrobatDoes) {
    int seen = 0;
    for (auto [file, low, high] :
         {std::tuple{"AcroForm_TEST_compiled.pdf", 0.995, 1.005}, std::tuple{"sample_form.pdf", 0.9, 1.15}}) {
        QPDF pdf;
        pdf.processFile((kPdfs + file).c_str());
        FormFields forms(pdf);
        for (auto [i, acrobat] : autoSizedWithTheirSize(forms)) {
            forms.setValue(i, forms.value(i));
            double ours = drawnSize(appearanceText(forms.fields()[i].dict));
            EXPECT_GE(ours, low * acrobat) << file << " " << quill::pdf::utf16ToUtf8(forms.fields()[i].fullName);
            EXPECT_LE(ours, high * acrobat) << file << " " << quill::pdf::utf16ToUtf8(forms.fields()[i].fullName);
            ++seen;
        }
    }
    EXPECT_GE(seen, 3);
}

// A comb cell holds one extended grapheme cluster, a conjunct (consonant, virama, consonant)
// included, on Acrobat's own comb field: each cell's text is placed on its own.
TEST(FormAppearance, CombCellsHoldWholeGraphemeClusters) {
    struct Case {
        const char* value;
        std::size_t cells;
    } const cases[] = {
        {"\xE0\xA4\xA8\xE0\xA4\xA8\xE0\xA5\x8D\xE0\xA4\xA6\xE0\xA4\xBF\xE0\xA4\xA8\xE0\xA5\x80", 3},  // नन्दिनी
        {"\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7\xE0\xA4\xA4\xE0\xA5\x8D\xE0\xA4\xB0\xE0\xA4\xBF\xE0\xA4\xAF",
         3},                                          // क्षत्रिय
        {"\xE0\xA6\xB8\xE0\xA7\x8D\xE0\xA6\xA4", 1},  // স্ত
        {"Re\xCC\x81sume\xCC\x81", 6},                // e + acute
        {"\xF0\x9F\x87\xB3\xF0\x9F\x87\xB4\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", 2},  // flag, ZWJ sequence
        {"\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", 1},                                          // Hangul jamo
    };
    QPDF pdf;
    pdf.processFile((kPdfs + "annotation-text-widget.pdf").c_str());
    FormFields forms(pdf);
    int at = forms.find(u"formulier1[0].#subform[0].Tekstveld6[0]");
    ASSERT_GE(at, 0);
    for (const auto& c : cases) {
        forms.setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newUnicodeString(c.value));
        auto content = appearanceText(forms.fields()[static_cast<std::size_t>(at)].dict);
        EXPECT_EQ(count(content, " Tm\n"), c.cells) << c.value;
    }
}

// The face a value falls back to is of the field font's class by its name or descriptor flags
// (monospace for Courier or flags 33, serif for Times, Century Oldstyle or flags 34), never a
// math face, and one face draws the whole value when one has all its characters.
TEST(FormFonts, FallbackFollowsTheFieldFontsClassInOneFace) {
    struct Case {
        const char* da;  // null: the form's own (Courier)
        const char* value;
        const char* family;  // what the fallback's name holds
    } const cases[] = {
        {nullptr, "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2", "Mono"},
        {nullptr, "Nguy\xE1\xBB\x85n Th\xE1\xBB\x8B H\xC6\xB0\xC6\xA1ng", "Mono"},
        {"/CeOl 12 Tf 0 g", "Nguy\xE1\xBB\x85n Th\xE1\xBB\x8B H\xC6\xB0\xC6\xA1ng", "Serif"},
        {"/SeFl 12 Tf 0 g", "Nguy\xE1\xBB\x85n Th\xE1\xBB\x8B H\xC6\xB0\xC6\xA1ng", "Serif"},
        {"/MoFl 12 Tf 0 g", "Nguy\xE1\xBB\x85n Th\xE1\xBB\x8B H\xC6\xB0\xC6\xA1ng", "Mono"},
        {"/TiRo 12 Tf 0 g", "Nguy\xE1\xBB\x85n Th\xE1\xBB\x8B H\xC6\xB0\xC6\xA1ng", "Serif"},
        {"/TiRo 12 Tf 0 g", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xE1\xBA\xA0", "Serif"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        QPDF pdf;
        pdf.processFile((kPdfs + "form-fields-and-annotations-shared.pdf").c_str());
        FormFields forms(pdf);
        int at = forms.find(u"Text Box 1");
        ASSERT_GE(at, 0);
        auto dict = forms.fields()[static_cast<std::size_t>(at)].dict;
        if (c.da) {
            auto dr = pdf.getRoot().getKey("/AcroForm").getKey("/DR");
            for (auto [name, font] : {std::pair{"/TiRo", "/Type1 /BaseFont /Times-Roman"},
                                      {"/CeOl", "/Type1 /BaseFont /CenturyOldstyle"},
                                      {"/SeFl", "/TrueType /BaseFont /F /FontDescriptor << /Flags 34 >>"},
                                      {"/MoFl", "/TrueType /BaseFont /F /FontDescriptor << /Flags 33 >>"}})
                dr.getKey("/Font").replaceKey(name,
                                              QPDFObjectHandle::parse(std::string("<< /Subtype ") + font + " >>"));
            dict.replaceKey("/DA", QPDFObjectHandle::newString(c.da));
        }
        forms.setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newUnicodeString(c.value));
        auto widget = dict;
        while (widget.hasKey("/Kids")) widget = widget.getKey("/Kids").getArrayItem(0);
        auto fonts = widget.getKey("/AP").getKey("/N").getDict().getKey("/Resources").getKey("/Font");
        std::vector<std::string> fallbacks;
        for (auto& [name, font] : fonts.ditems())
            if (name.rfind("/QmFb", 0) == 0 && appearanceText(widget).find(name + " ") != std::string::npos)
                fallbacks.push_back(font.getKey("/BaseFont").getName());
        ASSERT_EQ(fallbacks.size(), 1u) << ::testing::PrintToString(fallbacks);
        EXPECT_NE(fallbacks[0].find(c.family), std::string::npos) << fallbacks[0];
        EXPECT_EQ(fallbacks[0].find("Math"), std::string::npos) << fallbacks[0];
        // The spaces between its words too: the font is chosen twice, the field's and the fallback.
        EXPECT_EQ(count(appearanceText(widget), " Tf"), 2u) << appearanceText(widget);
    }
}

// The rectangles a list box fills in Acrobat's selection colour, "x y w h" to hundredths.
static std::vector<std::string> selectionFills(const std::string& content) {
    auto from = std::min(content.size(), content.find("0.600006 0.756866 0.854904 rg"));
    const std::string run = content.substr(from, content.find("BT", from) - from);
    static const std::regex rect("([\\d.]+)\\s+([\\d.]+)\\s+([\\d.]+)\\s+([\\d.]+)\\s+re");
    std::vector<std::string> fills;
    for (std::sregex_iterator r(run.begin(), run.end(), rect), end; r != end; ++r) {
        char fill[80];
        std::snprintf(fill, sizeof fill, "%.2f %.2f %.2f %.2f", std::stod((*r)[1]), std::stod((*r)[2]),
                      std::stod((*r)[3]), std::stod((*r)[4]));
        fills.push_back(fill);
    }
    return fills;
}

// Acrobat's list boxes (no border; a border, a top index, three chosen, the last cut by the box)
// set again fill the rows Acrobat filled; a box one row high scrolls to its chosen option.
TEST(FormAppearance, ListBoxFillsTheChosenRowsAsAcrobatDoes) {
    for (auto [file, name] : {std::pair{"AcroFormsBasicFields.pdf", u"ListBox-DefaultValue"},
                              std::pair{"AcroForm_TEST_compiled.pdf", u"List Box1"}}) {
        QPDF pdf;
        pdf.processFile((kPdfs + file).c_str());
        FormFields forms(pdf);
        auto at = static_cast<std::size_t>(forms.find(name));
        auto widget = forms.fields()[at].dict;
        auto acrobat = selectionFills(appearanceText(widget));
        forms.setValue(at, forms.value(at));
        EXPECT_TRUE(!acrobat.empty() && selectionFills(appearanceText(widget)) == acrobat) << appearanceText(widget);
        if (acrobat.size() > 1) continue;
        widget.replaceKey("/Rect", QPDFObjectHandle::parse("[168.941 600 264 616]"));
        widget.removeKey("/AP");
        forms.setValue(at, QPDFObjectHandle::newString("Opt03"));
        auto drawn = appearanceText(widget);
        EXPECT_EQ(selectionFills(drawn), std::vector<std::string>{"1.00 1.13 93.06 13.87"}) << drawn;
        EXPECT_TRUE(drawn.find("(Opt03) Tj") != std::string::npos && drawn.find("(Opt01)") == std::string::npos);
    }
}

// A multi-line field's auto size on a real form's box: 12 points for a short value, else the
// largest size at which its lines fit: a quarter point more and the lowest baseline passes the
// padding and Helvetica's descent.
TEST(FormAppearance, MultiLineAutoSizeIsTheLargestThatFits) {
    auto drawn = [](const std::string& size, const char* value) {  // the size and the lowest baseline
        QPDF pdf;
        pdf.processFile((kPdfs + "form_russian.pdf").c_str());
        FormFields forms(pdf);
        auto at = static_cast<std::size_t>(forms.find(u"job-id"));
        forms.fields()[at].dict.replaceKey("/DA", QPDFObjectHandle::newString("/Helv " + size + " Tf 0 g"));
        forms.setValue(at, QPDFObjectHandle::newString(value));
        auto content = appearanceText(forms.fields()[at].dict);
        auto last = content.rfind(" Tm");  // the lines are drawn from the top
        return std::pair{drawnSize(content), std::stod(content.substr(content.rfind(' ', last - 1) + 1))};
    };
    EXPECT_EQ(drawn("0", "Short").first, 12);
    const char* value = "Pack my box with five dozen liquor jugs, then pack the next box with five dozen more jugs";
    auto [size, lowest] = drawn("0", value);
    auto [larger, below] = drawn(std::to_string(size + 0.25), value);
    EXPECT_TRUE(size < 12 && lowest + 0.01 >= 2 + 0.207 * size && below < 2 + 0.207 * larger) << size;
}
