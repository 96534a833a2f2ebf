// The contact sheets: page 1 of every filled form, 4×5 to a sheet, rendered
// with poppler's Splash, drawn with cairo and written with libpng; labels are
// laid out by Pango, so names in any script show with the installed fonts.
#pragma once

#include <string>
#include <vector>

#include "Handles.h"
#include "Record.h"

namespace merge_report {

// OUT/contact-sheet-01.png, -02, …: sheet `sheet` (from 0) of `sheets`.
std::string sheetName(const std::string& outDir, long sheet, long sheets);

// Draws a page in the standard fonts forms use (Helvetica, ZapfDingbats), so that fontconfig's
// configuration and poppler's choice of the files standing in for those fonts are made in the
// process that calls it and inherited by every worker it forks after.
void warmFontLookups();

// Draws sheets in one process. It keeps one Pango layout for every label it draws: a new one
// would make a new Pango context, and with it look up the fonts and their fallbacks again.
class SheetPainter {
public:
    // The cells as the PNG `png`, written beside it and then moved, so that a sheet is never seen
    // half-written; `width` is the digits of a record number. False when it could not be written.
    bool draw(const std::string& outDir, const std::string& png, const std::vector<Record>& cells, int width);

private:
    void label(cairo_t* cr, const std::string& text, double x, double y, int width, const char* font, double r,
               double g, double b, bool wrap = false);
    void tile(cairo_t* cr, double x, double y, bool failed, const std::string& heading, const std::string& detail);

    Layout layout_;
};

}  // namespace merge_report
