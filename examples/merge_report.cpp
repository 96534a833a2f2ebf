// quill-merge-report: the mail merge's report. Reads what
// `filemaker-host --json run merge.fmscript` prints (one JSON object a line,
// the script run with the "report" parameter), shows each failure and the
// summary as they come, then writes OUT/failures.csv and the contact sheets
// OUT/contact-sheet-01.png, -02, …: page 1 of every filled form, 4×5 to a
// sheet, each labelled with its record number and name; a failed record is a
// red tile naming the failed call, a skipped one a grey tile.
//
//   filemaker-host --json run merge.fmscript … | quill-merge-report --out OUT [--jobs N]
//
// The sheets are drawn by N worker processes (default: the processors
// online), each rendering whole sheets with poppler's Splash and writing them
// with cairo; labels are laid out by Pango, so names in any script show with
// the installed fonts. Exit status: 0 when the summary came and nothing
// failed, 1 when a record, a sheet or the host failed, 2 on bad arguments.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/goo/GooString.h>
#include <poppler/splash/SplashBitmap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 4, kRows = 5, kPerSheet = kColumns * kRows;
constexpr int kThumbW = 240, kThumbH = 311;  // a Letter page at 28 dpi
constexpr int kLabelH = 40, kGap = 14;
constexpr int kCellW = kThumbW + kGap, kCellH = kThumbH + kLabelH + kGap;

struct Record {
    long number = 0;
    std::string status;  // written, failed, skipped
    std::string file;    // written: the file's name in OUT
    std::string name;
    std::string call, code, text;  // failed
};

std::vector<std::string> splitCr(const std::string& s, std::size_t parts) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (out.size() + 1 < parts) {
        const auto cr = s.find('\r', from);
        if (cr == std::string::npos) break;
        out.push_back(s.substr(from, cr - from));
        from = cr + 1;
    }
    out.push_back(s.substr(from));
    out.resize(parts);
    return out;
}

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// --- drawing -------------------------------------------------------------

void label(cairo_t* cr, const std::string& text, double x, double y, int width, const char* font, double r, double g,
           double b, bool wrap = false) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* desc = pango_font_description_from_string(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    if (wrap) {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_height(layout, -6);  // at most six lines
    }
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

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
    cairo_surface_t* img =
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(bmp->getDataPtr()), CAIRO_FORMAT_RGB24,
                                            bmp->getWidth(), bmp->getHeight(), bmp->getRowSize());
    const double ox = x + (kThumbW - bmp->getWidth()) / 2.0, oy = y + (kThumbH - bmp->getHeight()) / 2.0;
    cairo_set_source_surface(cr, img, ox, oy);
    cairo_paint(cr);
    cairo_surface_destroy(img);
    cairo_set_source_rgb(cr, 0.55, 0.57, 0.62);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, ox - 0.5, oy - 0.5, bmp->getWidth() + 1, bmp->getHeight() + 1);
    cairo_stroke(cr);
    return true;
}

// A tile in place of a page: red for a failed record, grey for a skipped one.
void drawTile(cairo_t* cr, double x, double y, bool failed, const std::string& heading, const std::string& detail) {
    if (failed)
        cairo_set_source_rgb(cr, 0.86, 0.16, 0.16);
    else
        cairo_set_source_rgb(cr, 0.62, 0.64, 0.68);
    cairo_rectangle(cr, x, y, kThumbW, kThumbH);
    cairo_fill(cr);
    label(cr, heading, x + 12, y + 14, kThumbW - 24, "Sans Bold 16", 1, 1, 1);
    label(cr, detail, x + 12, y + 48, kThumbW - 24, "Sans 11", 1, 1, 1, true);
}

bool drawSheet(const std::string& outDir, const std::string& png, const std::vector<const Record*>& cells, int width) {
    const int rows = static_cast<int>((cells.size() + kColumns - 1) / kColumns);
    const int w = kColumns * kCellW + kGap, h = rows * kCellH + kGap;
    cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(sheet);
    cairo_set_source_rgb(cr, 0.85, 0.86, 0.89);
    cairo_paint(cr);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Record& r = *cells[i];
        const double x = kGap + static_cast<double>(i % kColumns) * kCellW;
        const double y = kGap + static_cast<double>(i / kColumns) * kCellH;
        char number[32];
        std::snprintf(number, sizeof number, "%0*ld", width, r.number);
        if (r.status == "written") {
            if (!drawPage(cr, outDir + "/" + r.file, x, y))
                drawTile(cr, x, y, true, "UNREADABLE", r.file + " could not be read back");
        } else if (r.status == "failed") {
            drawTile(cr, x, y, true, "FAILED", r.call + "\n" + r.code + " " + r.text);
        } else if (r.status == "skipped") {
            drawTile(cr, x, y, false, "SKIPPED", "every field of the record is empty");
        } else {
            drawTile(cr, x, y, true, "NOT REACHED", "the merge stopped before this record");
        }
        const bool red = r.status != "written" && r.status != "skipped";
        label(cr, std::string(number) + "  " + (r.name.empty() ? "(no name)" : r.name), x, y + kThumbH + 6, kThumbW,
              "Sans Bold 12", red ? 0.75 : 0.1, red ? 0.05 : 0.1, red ? 0.05 : 0.12);
    }
    cairo_destroy(cr);
    // Written beside its final name, then moved: a sheet is never seen half-written.
    const std::string part = png + ".part";
    const bool ok = cairo_surface_write_to_png(sheet, part.c_str()) == CAIRO_STATUS_SUCCESS &&
                    std::rename(part.c_str(), png.c_str()) == 0;
    if (!ok) std::remove(part.c_str());
    cairo_surface_destroy(sheet);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    long jobs = sysconf(_SC_NPROCESSORS_ONLN);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else if (a == "--jobs" && i + 1 < argc)
            jobs = std::strtol(argv[++i], nullptr, 10);
        else {
            std::cerr
                << "usage: filemaker-host --json run merge.fmscript … | quill-merge-report --out DIR [--jobs N]\n";
            return 2;
        }
    }
    if (outDir.empty()) {
        std::cerr << "quill-merge-report: --out DIR is needed\n";
        return 2;
    }
    jobs = std::clamp(jobs, 1L, 64L);
    const bool tty = ::isatty(STDERR_FILENO);
    // On a terminal a message first clears the host's progress line.
    const char* clear = tty ? "\r\033[K" : "";

    std::map<long, Record> records;
    bool summary = false, failedRun = false;
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            std::cerr << clear << line << "\n";
            continue;
        }
        if (j.contains("error")) {
            std::cerr << clear << "filemaker-host: " << j.value("error", "") << "\n    in " << j.value("calc", "")
                      << "\n";
            failedRun = true;
            continue;
        }
        if (!j.contains("dialog")) continue;
        const std::string title = j.value("dialog", ""), message = j.value("message", "");
        long number = 0;
        char tail[16] = {};
        if (title == "merge.record") {
            const auto v = splitCr(message, 4);
            Record r;
            r.number = std::strtol(v[0].c_str(), nullptr, 10);
            r.status = v[1];
            r.file = v[2];
            r.name = v[3];
            if (r.number > 0) records[r.number] = r;
        } else if (std::sscanf(title.c_str(), "Record %ld %15s", &number, tail) == 2 &&
                   std::strcmp(tail, "failed") == 0) {
            const auto v = splitCr(message, 4);
            Record& r = records[number];
            r.number = number;
            r.status = "failed";
            r.name = v[0];
            r.call = v[1];
            r.code = v[2];
            r.text = oneLine(v[3]);
            std::cerr << clear << "record " << number << " (" << (r.name.empty() ? "no name" : r.name)
                      << "): " << r.call << " failed: " << r.code << " " << r.text << "\n";
            failedRun = true;
        } else if (title == "Mail merge") {
            summary = true;
            std::cerr << clear << std::flush;
            std::cout << title << ": " << message << "\n" << std::flush;
        } else {
            if (title == "Combined file failed") failedRun = true;
            std::cerr << clear << title << ": " << oneLine(message) << "\n";
        }
    }
    if (!summary) {
        std::cerr << "quill-merge-report: the merge ended without its summary\n";
        failedRun = true;
    }

    // failures.csv: one line a failed record, the header alone when none failed.
    {
        const std::string path = outDir + "/failures.csv", part = path + ".part";
        std::ofstream f(part, std::ios::binary | std::ios::trunc);
        f << "record,name,call,code,message\r\n";
        for (const auto& [n, r] : records)
            if (r.status == "failed")
                f << n << ',' << csvField(r.name) << ',' << csvField(r.call) << ',' << csvField(r.code) << ','
                  << csvField(r.text) << "\r\n";
        f.close();
        if (!f || std::rename(part.c_str(), path.c_str()) != 0) {
            std::cerr << "quill-merge-report: cannot write " << path << "\n";
            std::remove(part.c_str());
            failedRun = true;
        }
    }

    // Every record from 1 to the highest seen has a cell, so that one the
    // merge never reported shows as a gap in red rather than going missing.
    const long last = records.empty() ? 0 : records.rbegin()->first;
    std::vector<Record> all(static_cast<std::size_t>(last));
    for (long n = 1; n <= last; ++n) {
        auto it = records.find(n);
        all[static_cast<std::size_t>(n - 1)] =
            it != records.end() ? it->second : Record{n, "missing", "", "", "", "", ""};
    }
    const int width = static_cast<int>(std::to_string(last).size());
    const long sheets = (last + kPerSheet - 1) / kPerSheet;
    const int sheetWidth = std::max(2, static_cast<int>(std::to_string(sheets).size()));
    auto sheetName = [&](long s) {
        char name[64];
        std::snprintf(name, sizeof name, "/contact-sheet-%0*ld.png", sheetWidth, s + 1);
        return outDir + name;
    };
    const auto sheetsStart = std::chrono::steady_clock::now();
    std::vector<pid_t> workers;
    for (long w = 0; w < std::min(jobs, sheets); ++w) {
        const pid_t pid = fork();
        if (pid < 0) {
            std::cerr << "quill-merge-report: cannot start a worker: " << std::strerror(errno) << "\n";
            failedRun = true;
            break;
        }
        if (pid == 0) {
            globalParams = std::make_unique<GlobalParams>();
            globalParams->setErrQuiet(true);
            bool ok = true;
            for (long s = w; s < sheets; s += jobs) {
                std::vector<const Record*> cells;
                for (long k = s * kPerSheet; k < std::min(last, (s + 1) * kPerSheet); ++k)
                    cells.push_back(&all[static_cast<std::size_t>(k)]);
                if (!drawSheet(outDir, sheetName(s), cells, width)) {
                    std::fprintf(stderr, "quill-merge-report: cannot write %s\n", sheetName(s).c_str());
                    ok = false;
                }
            }
            std::fflush(stderr);
            _exit(ok ? 0 : 1);
        }
        workers.push_back(pid);
    }
    for (pid_t pid : workers) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) failedRun = true;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sheetsStart).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    if (sheets > 0)
        std::cout << "Contact sheets: " << sheets << " (" << sheetName(0)
                  << (sheets > 1 ? " … " + sheetName(sheets - 1) : std::string()) << ") in " << took
                  << "; failures listed in " << outDir << "/failures.csv\n";
    return failedRun ? 1 : 0;
}
