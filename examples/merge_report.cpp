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
// The sheets are drawn by worker processes, each rendering whole sheets with
// poppler's Splash, drawing with cairo and writing with libpng; labels are
// laid out by Pango, so names in any script show with the installed fonts.
// While the merge runs, one long-lived worker draws each sheet as soon as its
// records are in; the sheets left when it ends are shared among N workers
// (default: the processors online). Exit status: 0 when the summary came and nothing
// failed, 1 when a record, a sheet or the host failed, 2 on bad arguments.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <png.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/Stream.h>
#include <poppler/goo/GooString.h>
#include <poppler/splash/SplashBitmap.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdint>
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
    // One layout for every label the process draws: a new one would make a new Pango context,
    // and with it look up the fonts and their fallbacks again.
    static PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_cairo_update_layout(cr, layout);
    PangoFontDescription* desc = pango_font_description_from_string(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_wrap(layout, wrap ? PANGO_WRAP_WORD_CHAR : PANGO_WRAP_WORD);
    pango_layout_set_height(layout, wrap ? -6 : -1);  // at most six lines when wrapped
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
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

// The sheet as an RGB PNG. libpng at its fastest compression and without row
// filters: a sheet is mostly flat colour, zlib's default level took longer
// than drawing it, and filtering rows cost a third more time for a larger file.
bool writePng(cairo_surface_t* img, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_compression_level(png, 1);
        png_set_filter(png, 0, PNG_FILTER_NONE);
        const int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
        png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        cairo_surface_flush(img);
        const unsigned char* data = cairo_image_surface_get_data(img);
        const int stride = cairo_image_surface_get_stride(img);
        std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            const auto* px = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            for (int x = 0; x < w; ++x) {
                row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>(px[x] >> 16);
                row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>(px[x] >> 8);
                row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(px[x]);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return std::fclose(f) == 0 && ok;
}

bool drawSheet(const std::string& outDir, const std::string& png, const std::vector<Record>& cells, int width) {
    const int rows = static_cast<int>((cells.size() + kColumns - 1) / kColumns);
    const int w = kColumns * kCellW + kGap, h = rows * kCellH + kGap;
    cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(sheet);
    cairo_set_source_rgb(cr, 0.85, 0.86, 0.89);
    cairo_paint(cr);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Record& r = cells[i];
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
    const bool ok = writePng(sheet, part) && std::rename(part.c_str(), png.c_str()) == 0;
    if (!ok) std::remove(part.c_str());
    cairo_surface_destroy(sheet);
    return ok;
}

// --- the drawing worker's orders ------------------------------------------
// One sheet to draw, as the parent sends it down the worker's pipe: its index, the sheet count,
// the record numbers' width and the cells. Integers and sizes in host order, texts as a size and
// their bytes.

void putNumber(std::string& out, std::int64_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void putText(std::string& out, const std::string& t) {
    putNumber(out, static_cast<std::int64_t>(t.size()));
    out += t;
}

struct SheetOrder {
    long sheet = 0, sheets = 0;
    int width = 0;
    std::vector<Record> cells;
};

std::string encode(const SheetOrder& o) {
    std::string out;
    putNumber(out, o.sheet);
    putNumber(out, o.sheets);
    putNumber(out, o.width);
    putNumber(out, static_cast<std::int64_t>(o.cells.size()));
    for (const Record& r : o.cells) {
        putNumber(out, r.number);
        for (const std::string* t : {&r.status, &r.file, &r.name, &r.call, &r.code, &r.text}) putText(out, *t);
    }
    return out;
}

bool readAll(int fd, void* to, std::size_t n) {
    auto* p = static_cast<char*>(to);
    while (n > 0) {
        const ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// The next order from `fd`; false at the end of the pipe (or a broken order).
bool readOrder(int fd, SheetOrder& o) {
    constexpr std::int64_t kMaxText = 1 << 20;
    auto number = [&](std::int64_t& v) { return readAll(fd, &v, sizeof v); };
    auto text = [&](std::string& t) {
        std::int64_t n = 0;
        if (!number(n) || n < 0 || n > kMaxText) return false;
        t.resize(static_cast<std::size_t>(n));
        return readAll(fd, t.data(), t.size());
    };
    std::int64_t sheet = 0, sheets = 0, width = 0, count = 0;
    if (!number(sheet) || !number(sheets) || !number(width) || !number(count) || count < 0 || count > kPerSheet)
        return false;
    o.sheet = static_cast<long>(sheet);
    o.sheets = static_cast<long>(sheets);
    o.width = static_cast<int>(width);
    o.cells.assign(static_cast<std::size_t>(count), Record{});
    for (Record& r : o.cells) {
        std::int64_t n = 0;
        if (!number(n)) return false;
        r.number = static_cast<long>(n);
        for (std::string* t : {&r.status, &r.file, &r.name, &r.call, &r.code, &r.text})
            if (!text(*t)) return false;
    }
    return true;
}

// Draws a page in the standard fonts forms use (Helvetica, ZapfDingbats) once in the parent, so
// that fontconfig's configuration and poppler's choice of the files standing in for those fonts
// are made here and inherited by every worker; each worker made them again before (a sixth of a
// sheet's time).
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

    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(true);
    warmFontLookups();
    // A worker that died is found by its exit status; its pipe's end fails the write, not us.
    std::signal(SIGPIPE, SIG_IGN);

    std::map<long, Record> records;
    Record combined;  // the batch file (all.pdf) when it failed
    bool summary = false, failedRun = false, anyInput = false;
    long found = 0;  // the record count, from the first record's dialog on

    // Sheets are drawn by forked workers (poppler keeps global state; a
    // process of its own keeps it apart from the parent). While the merge
    // runs, one worker, the drawer, draws each sheet as soon as its records
    // are in — the merge itself keeps about one processor busy; after it
    // ended, the rest are shared among `jobs` workers.
    std::vector<pid_t> workers;
    long drawnUpTo = 0;  // sheets below this one are drawn or being drawn
    auto sheetName = [&](long s, long sheets) {
        std::string number = std::to_string(s + 1);
        const std::size_t width = std::max<std::size_t>(2, std::to_string(sheets).size());
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        return outDir + "/contact-sheet-" + number + ".png";
    };
    auto cellsOf = [&](long s, long last) {
        std::vector<Record> cells;
        for (long n = s * kPerSheet + 1; n <= std::min(last, (s + 1) * kPerSheet); ++n) {
            auto it = records.find(n);
            // A record the merge never reported shows as a red gap rather than going missing.
            cells.push_back(it != records.end() ? it->second : Record{n, "missing", "", "", "", "", ""});
        }
        return cells;
    };
    auto reap = [&](bool block) {
        for (auto it = workers.begin(); it != workers.end();) {
            int status = 0;
            const pid_t r = waitpid(*it, &status, block ? 0 : WNOHANG);
            if (r == 0) {
                ++it;
                continue;
            }
            if (r != *it || !WIFEXITED(status) || WEXITSTATUS(status) != 0) failedRun = true;
            it = workers.erase(it);
        }
    };
    // The worker that draws the sheets while the merge runs: one process for all of them, so
    // that poppler's, fontconfig's and Pango's set-up and the fonts the labels need are made
    // once, not once a sheet. It takes its orders down a pipe (large enough for a long merge's
    // sheets; a worker further behind holds the merge back until it caught up) and exits at the
    // pipe's end: 0 when every sheet was written.
    pid_t drawer = -1;
    int orders = -1;
    auto startDrawer = [&] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        std::cout.flush();
        std::cerr.flush();
        const pid_t pid = fork();
        if (pid < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
        if (pid == 0) {
            ::close(fds[1]);
            bool ok = true;
            SheetOrder o;
            while (readOrder(fds[0], o)) {
                if (!drawSheet(outDir, sheetName(o.sheet, o.sheets), o.cells, o.width)) {
                    std::fprintf(stderr, "quill-merge-report: cannot write %s\n", sheetName(o.sheet, o.sheets).c_str());
                    ok = false;
                }
            }
            std::fflush(stderr);
            _exit(ok ? 0 : 1);
        }
        ::close(fds[0]);
        (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        drawer = pid;
        orders = fds[1];
        workers.push_back(pid);
        return true;
    };
    auto stopDrawer = [&] {
        if (orders >= 0) ::close(orders);
        orders = -1;
    };
    // Draws sheets first, first + step, … below `end` in a new worker.
    auto spawn = [&](long first, long end, long step, long last, long sheets) {
        std::cout.flush();
        std::cerr.flush();
        const pid_t pid = fork();
        if (pid < 0) {
            std::cerr << "quill-merge-report: cannot start a worker: " << std::strerror(errno) << "\n";
            failedRun = true;
            return;
        }
        if (pid > 0) {
            workers.push_back(pid);
            return;
        }
        // The drawer ends at its pipe's end: no other process may hold it open.
        if (orders >= 0) ::close(orders);
        const int width = static_cast<int>(std::to_string(found > 0 ? found : last).size());
        bool ok = true;
        for (long s = first; s < end; s += step) {
            const auto cells = cellsOf(s, last);
            if (!drawSheet(outDir, sheetName(s, sheets), cells, width)) {
                std::fprintf(stderr, "quill-merge-report: cannot write %s\n", sheetName(s, sheets).c_str());
                ok = false;
            }
        }
        std::fflush(stderr);
        _exit(ok ? 0 : 1);
    };
    bool drawerTried = false;
    // Sheet `s` to the drawer; to a worker of its own when the drawer cannot take it.
    auto order = [&](long s, long last, long sheets) {
        const int width = static_cast<int>(std::to_string(found > 0 ? found : last).size());
        if (orders >= 0 && writeAll(orders, encode(SheetOrder{s, sheets, width, cellsOf(s, last)}))) return;
        stopDrawer();
        spawn(s, s + 1, 1, last, sheets);
    };

    std::string line;
    while (std::getline(std::cin, line)) {
        anyInput = true;
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
            const auto v = splitCr(message, 5);
            Record r;
            r.number = std::strtol(v[0].c_str(), nullptr, 10);
            found = std::strtol(v[1].c_str(), nullptr, 10);
            r.status = v[2];
            r.file = v[3];
            r.name = v[4];
            if (r.number > 0) records[r.number] = r;
            number = r.number;
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
            // A batch file that was not written is part of the outcome, not only a message.
            std::cout << title << ": " << message
                      << (combined.call.empty() ? std::string() : "; " + combined.name + " failed") << "\n"
                      << std::flush;
        } else if (title == "Combined file failed") {
            // file¶call¶code¶text, as a failed record's.
            const auto v = splitCr(message, 4);
            combined.name = v[0];
            combined.call = v[1].empty() ? "?" : v[1];
            combined.code = v[2];
            combined.text = oneLine(v[3]);
            failedRun = true;
            std::cerr << clear << combined.name << ": " << combined.call << " failed: " << combined.code << " "
                      << combined.text << "\n";
        } else {
            std::cerr << clear << title << ": " << oneLine(message) << "\n";
        }
        // Record `number` is in: every sheet before its own is complete.
        if (number > 0 && found > 0) {
            reap(false);
            const long sheets = (found + kPerSheet - 1) / kPerSheet;
            const long complete = number == found ? sheets : (number - 1) / kPerSheet;
            if (complete > drawnUpTo) {
                if (!drawerTried) drawerTried = startDrawer();
                for (long s = drawnUpTo; s < complete; ++s) order(s, found, sheets);
                drawnUpTo = complete;
            }
        }
    }
    if (!summary && anyInput) {
        std::cerr << "quill-merge-report: the merge ended without its summary\n";
        failedRun = true;
    }
    const auto mergeEnd = std::chrono::steady_clock::now();
    const long last = std::max(found, records.empty() ? 0L : records.rbegin()->first);
    const long sheets = (last + kPerSheet - 1) / kPerSheet;
    // The sheets left are shared: the drawer, its set-up made, takes every `jobs`-th, new workers
    // the others.
    const long first = orders >= 0 ? 1 : 0;
    if (orders >= 0)
        for (long s = drawnUpTo; s < sheets; s += jobs) order(s, last, sheets);
    for (long w = first; w < std::min(jobs, sheets - drawnUpTo); ++w) spawn(drawnUpTo + w, sheets, jobs, last, sheets);
    stopDrawer();
    reap(true);

    // failures.csv: one line a failed record, the header alone when none failed.
    {
        const std::string path = outDir + "/failures.csv", part = path + ".part";
        std::ofstream f(part, std::ios::binary | std::ios::trunc);
        f << "record,name,call,code,message\r\n";
        for (const auto& [n, r] : records)
            if (r.status == "failed")
                f << n << ',' << csvField(r.name) << ',' << csvField(r.call) << ',' << csvField(r.code) << ','
                  << csvField(r.text) << "\r\n";
        // The batch file is no record: its line has no number and the file's name.
        if (!combined.call.empty())
            f << ',' << csvField(combined.name) << ',' << csvField(combined.call) << ',' << csvField(combined.code)
              << ',' << csvField(combined.text) << "\r\n";
        f.close();
        if (!f || std::rename(part.c_str(), path.c_str()) != 0) {
            std::cerr << "quill-merge-report: cannot write " << path << "\n";
            std::remove(part.c_str());
            failedRun = true;
        }
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - mergeEnd).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    if (sheets > 0)
        std::cout << "Contact sheets: " << sheets << " (" << sheetName(0, sheets)
                  << (sheets > 1 ? " … " + sheetName(sheets - 1, sheets) : std::string()) << "), done " << took
                  << " after the merge"
                  << "; failures listed in " << outDir << "/failures.csv\n";
    return failedRun ? 1 : 0;
}
