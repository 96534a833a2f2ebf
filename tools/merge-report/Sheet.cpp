#include "Sheet.h"

#include <pango/pangocairo.h>
#include <png.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/Stream.h>
#include <poppler/goo/GooString.h>
#include <poppler/splash/SplashBitmap.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace merge_report {

namespace {

constexpr int kThumbW = 240, kThumbH = 311;  // a Letter page at 28 dpi
constexpr int kLabelH = 40, kGap = 14;
constexpr int kCellW = kThumbW + kGap, kCellH = kThumbH + kLabelH + kGap;

// Page 1 of a filled form, scaled into the thumbnail box; false when it cannot be read.
bool drawPage(cairo_t* cr, const std::string& path, double x, double y) {
    auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
    if (!doc->isOk() || doc->getNumPages() < 1) return false;
    const double w = doc->getPageCropWidth(1), h = doc->getPageCropHeight(1);
    if (w <= 0 || h <= 0) return false;
    const double dpi = 72.0 * std::min(kThumbW / w, kThumbH / h);
    SplashColor paper = {255, 255, 255, 255};
    SplashOutputDev dev(splashModeXBGR8, 4, false, paper);
    dev.setFontAntialias(true);
    dev.setVectorAntialias(true);
    dev.startDoc(doc.get());
    doc->displayPage(&dev, 1, dpi, dpi, 0, false, true, false);
    SplashBitmap* bmp = dev.getBitmap();
    const Surface img(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(bmp->getDataPtr()),
                                                          CAIRO_FORMAT_RGB24, bmp->getWidth(), bmp->getHeight(),
                                                          bmp->getRowSize()));
    const double ox = x + (kThumbW - bmp->getWidth()) / 2.0, oy = y + (kThumbH - bmp->getHeight()) / 2.0;
    cairo_set_source_surface(cr, img.get(), ox, oy);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.55, 0.57, 0.62);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, ox - 0.5, oy - 0.5, bmp->getWidth() + 1, bmp->getHeight() + 1);
    cairo_stroke(cr);
    return true;
}

// libpng's write state, freed with its info whichever way the write ends.
struct PngWrite {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    PngWrite() = default;
    PngWrite(const PngWrite&) = delete;
    PngWrite& operator=(const PngWrite&) = delete;
    ~PngWrite() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// The rows of `img` as RGB into `w`. libpng reports an error by jumping back here, so nothing in
// this frame may need a destructor: the row buffer comes from the caller.
bool writeRows(PngWrite& w, std::FILE* f, cairo_surface_t* img, std::vector<unsigned char>& row) {
    if (setjmp(png_jmpbuf(w.png)) != 0) return false;
    png_init_io(w.png, f);
    // A sheet is mostly flat colour, which zlib's fastest level already packs well and row
    // filters would hardly shrink: the sheets come out as soon as they are drawn.
    png_set_compression_level(w.png, 1);
    png_set_filter(w.png, 0, PNG_FILTER_NONE);
    const int width = cairo_image_surface_get_width(img), height = cairo_image_surface_get_height(img);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    cairo_surface_flush(img);
    const unsigned char* data = cairo_image_surface_get_data(img);
    const int stride = cairo_image_surface_get_stride(img);
    for (int y = 0; y < height; ++y) {
        const auto* px = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>(px[x] >> 16);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>(px[x] >> 8);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(px[x]);
        }
        png_write_row(w.png, row.data());
    }
    png_write_end(w.png, nullptr);
    return true;
}

// The sheet as an RGB PNG.
bool writePng(cairo_surface_t* img, const std::string& path) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    std::vector<unsigned char> row(static_cast<std::size_t>(cairo_image_surface_get_width(img)) * 3);
    bool ok = false;
    {
        PngWrite w;
        ok = w.info && writeRows(w, f.get(), img, row);
    }
    return std::fclose(f.release()) == 0 && ok;
}

}  // namespace

std::string sheetName(const std::string& outDir, long sheet, long sheets) {
    std::string number = std::to_string(sheet + 1);
    const std::size_t width = std::max<std::size_t>(2, std::to_string(sheets).size());
    if (number.size() < width) number.insert(0, width - number.size(), '0');
    return outDir + "/contact-sheet-" + number + ".png";
}

void warmFontLookups() {
    const std::string content = "BT /F1 9 Tf 1 5 Td (a) Tj /F2 9 Tf (4) Tj ET";
    const std::string pdf =
        "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n"
        "2 0 obj <</Type /Pages /Kids [3 0 R] /Count 1>> endobj\n"
        "3 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 20 20] /Contents 6 0 R"
        " /Resources <</Font <</F1 4 0 R /F2 5 0 R>>>>>> endobj\n"
        "4 0 obj <</Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding>> endobj\n"
        "5 0 obj <</Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats>> endobj\n"
        "6 0 obj <</Length " +
        std::to_string(content.size()) + ">> stream\n" + content +
        "\nendstream endobj\ntrailer <</Root 1 0 R>>\n%%EOF\n";
    // The stream reads the string in place; the document goes before it.
    PDFDoc doc(new MemStream(const_cast<char*>(pdf.data()), 0, static_cast<Goffset>(pdf.size()), Object(objNull)));
    if (!doc.isOk() || doc.getNumPages() < 1) return;
    SplashColor paper = {255, 255, 255, 255};
    SplashOutputDev dev(splashModeXBGR8, 4, false, paper);
    dev.startDoc(&doc);
    doc.displayPage(&dev, 1, 72, 72, 0, false, true, false);
}

void SheetPainter::label(cairo_t* cr, const std::string& text, double x, double y, int width, const char* font,
                         double r, double g, double b, bool wrap) {
    if (!layout_) layout_.reset(pango_cairo_create_layout(cr));
    pango_cairo_update_layout(cr, layout_.get());
    PangoLayout* layout = layout_.get();
    const FontDescription desc(pango_font_description_from_string(font));
    pango_layout_set_font_description(layout, desc.get());
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_wrap(layout, wrap ? PANGO_WRAP_WORD_CHAR : PANGO_WRAP_WORD);
    pango_layout_set_height(layout, wrap ? -6 : -1);  // at most six lines when wrapped
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
}

// A tile in place of a page: red for a failed record, grey for a skipped one.
void SheetPainter::tile(cairo_t* cr, double x, double y, bool failed, const std::string& heading,
                        const std::string& detail) {
    if (failed)
        cairo_set_source_rgb(cr, 0.86, 0.16, 0.16);
    else
        cairo_set_source_rgb(cr, 0.62, 0.64, 0.68);
    cairo_rectangle(cr, x, y, kThumbW, kThumbH);
    cairo_fill(cr);
    label(cr, heading, x + 12, y + 14, kThumbW - 24, "Sans Bold 16", 1, 1, 1);
    label(cr, detail, x + 12, y + 48, kThumbW - 24, "Sans 11", 1, 1, 1, true);
}

bool SheetPainter::draw(const std::string& outDir, const std::string& png, const std::vector<Record>& cells,
                        int width) {
    const int rows = static_cast<int>((cells.size() + kColumns - 1) / kColumns);
    const int w = kColumns * kCellW + kGap, h = rows * kCellH + kGap;
    const Surface sheet(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
    {
        const Cairo cr(cairo_create(sheet.get()));
        cairo_set_source_rgb(cr.get(), 0.85, 0.86, 0.89);
        cairo_paint(cr.get());
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Record& r = cells[i];
            const double x = kGap + static_cast<double>(i % kColumns) * kCellW;
            const double y = kGap + static_cast<double>(i / kColumns) * kCellH;
            // A record the merge never reached (it was stopped) has no cell: its place stays empty.
            if (r.status == "missing") continue;
            char number[32];
            std::snprintf(number, sizeof number, "%0*ld", width, r.number);
            if (r.status == "written") {
                if (!drawPage(cr.get(), outDir + "/" + r.file, x, y))
                    tile(cr.get(), x, y, true, "UNREADABLE", r.file + " could not be read back");
            } else if (r.status == "failed") {
                tile(cr.get(), x, y, true, "FAILED", r.call + "\n" + r.code + " " + r.text);
            } else if (r.status == "skipped") {
                tile(cr.get(), x, y, false, "SKIPPED", "every field of the record is empty");
            } else {
                tile(cr.get(), x, y, true, "UNKNOWN", "the merge reported " + r.status);
            }
            const bool red = r.status != "written" && r.status != "skipped";
            label(cr.get(), std::string(number) + "  " + (r.name.empty() ? "(no name)" : r.name), x, y + kThumbH + 6,
                  kThumbW, "Sans Bold 12", red ? 0.75 : 0.1, red ? 0.05 : 0.1, red ? 0.05 : 0.12);
        }
    }
    const std::string part = png + ".part";
    const bool ok = writePng(sheet.get(), part) && std::rename(part.c_str(), png.c_str()) == 0;
    if (!ok) std::remove(part.c_str());
    return ok;
}

}  // namespace merge_report
