// quill-merge-report: the mail merge's report. Reads what
// `filemaker-host --json run merge.fmscript` prints (one JSON object a line,
// the script run with the "report" parameter) from standard input or from
// each --input (one a host pair: merge.sh --jobs N), shows each failure as it
// comes, then writes OUT/failures.csv, the summary line and the contact sheets
// OUT/contact-sheet-01.png, -02, …: page 1 of every filled form, 4×5 to a
// sheet, each labelled with its record number and name; a failed record is a
// red tile naming the failed call, a skipped one a grey tile, a record the
// merge never reached (it was stopped) an empty place.
//
//   … | quill-merge-report --out OUT [--jobs N] [--input FILE …] [--resume] [--combine PROGRAM ARG …]
//
// Every record's outcome is also appended to OUT/.merge-log as it comes;
// --resume starts from it (the records an earlier, stopped merge finished).
// --combine runs PROGRAM once every record is in, with OUT/.merge-written.csv
// listing the written files in record order (the combined all.pdf), and
// reads its output as it reads the hosts'. Ctrl-C and SIGTERM are left to the
// hosts, which finish their record in hand: the report reads on to the end.
//
// The sheets are drawn by worker processes, each rendering whole sheets with
// poppler's Splash, drawing with cairo and writing with libpng; labels are
// laid out by Pango, so names in any script show with the installed fonts.
// While the merge runs, one long-lived worker draws each sheet as soon as all
// its records are in; the sheets left when it ends are shared among N workers
// (default: the processors online). Exit status: 0 when every summary came and
// nothing failed, 1 when a record, all.pdf, a sheet or a host failed, 2 on bad
// arguments.
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
#include <poll.h>
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
#include <set>
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
        // A record the merge never reached (it was stopped) has no cell: its place stays empty.
        if (r.status == "missing") continue;
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
            drawTile(cr, x, y, true, "UNKNOWN", "the merge reported " + r.status);
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

// 4,296: a count as the summary shows it.
std::string grouped(long n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
        out += digits[i];
    }
    return out;
}

std::string counted(long n, const char* one, const char* many) {
    return grouped(n) + " " + (n == 1 ? one : many);
}

std::string duration(double seconds) {
    char out[32];
    if (seconds < 1)
        std::snprintf(out, sizeof out, "%ld ms", static_cast<long>(seconds * 1000 + 0.5));
    else
        std::snprintf(out, sizeof out, "%.1f s", seconds);
    return out;
}

// One input's bytes, split into lines as they come.
struct Input {
    int fd = -1;
    std::string pending;
    bool summary = false;  // its merge.summary (or Mail merge) came
};

}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    long jobs = sysconf(_SC_NPROCESSORS_ONLN);
    std::vector<std::string> inputPaths, combine;
    bool resume = false, progress = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else if (a == "--jobs" && i + 1 < argc)
            jobs = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--input" && i + 1 < argc)
            inputPaths.push_back(argv[++i]);
        else if (a == "--resume")
            resume = true;
        else if (a == "--progress")
            progress = true;
        else if (a == "--combine" && i + 1 < argc) {
            combine.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::cerr << "usage: filemaker-host --json run merge.fmscript … | quill-merge-report --out DIR [--jobs N] "
                         "[--input FILE …] [--resume] [--progress] [--combine PROGRAM ARGUMENT …]\n";
            return 2;
        }
    }
    if (outDir.empty()) {
        std::cerr << "quill-merge-report: --out DIR is needed\n";
        return 2;
    }
    jobs = std::clamp(jobs, 1L, 64L);
    const bool tty = ::isatty(STDERR_FILENO);
    // On a terminal a message first clears the progress line.
    const char* clear = tty ? "\r\033[K" : "";
    progress = progress && tty;
    const auto started = std::chrono::steady_clock::now();

    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(true);
    warmFontLookups();
    // A worker that died is found by its exit status; its pipe's end fails the write, not us.
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C and SIGTERM stop the hosts after their record in hand; the report goes on to the end
    // of their output and writes what was done.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);

    std::map<long, Record> records;
    bool failedRun = false, stopped = false, combinedFailed = false;
    bool scriptSummary = false;  // the script printed its own "Mail merge" line (run without "report")
    long found = 0;              // the record count, from the first record's dialog on

    // Every record's outcome, one JSON line as it comes: what --resume starts from.
    const std::string logPath = outDir + "/.merge-log";
    if (resume) {
        std::ifstream log(logPath);
        std::string line;
        while (std::getline(log, line)) {
            const auto j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_object()) continue;
            Record r{j.value("n", 0L),    j.value("status", ""), j.value("file", ""), j.value("name", ""),
                     j.value("call", ""), j.value("code", ""),   j.value("text", "")};
            if (r.number > 0) records[r.number] = r;
        }
    }
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    auto logRecord = [&](const Record& r) {
        const nlohmann::json j{{"n", r.number},  {"status", r.status}, {"file", r.file}, {"name", r.name},
                               {"call", r.call}, {"code", r.code},     {"text", r.text}};
        if (logFd < 0 || !writeAll(logFd, j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n"))
            failedRun = true;
    };

    // Sheets are drawn by forked workers (poppler keeps global state; a
    // process of its own keeps it apart from the parent). While the merge
    // runs, one worker, the drawer, draws each sheet as soon as all its
    // records are in — the merge itself keeps about one processor busy; after
    // it ended, the rest are shared among `jobs` workers.
    std::vector<pid_t> workers;
    std::set<long> ordered;  // sheets drawn or being drawn
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
        orders = fds[1];
        workers.push_back(pid);
        return true;
    };
    auto stopDrawer = [&] {
        if (orders >= 0) ::close(orders);
        orders = -1;
    };
    // Draws the given sheets in a new worker.
    auto spawn = [&](const std::vector<long>& which, long last, long sheets) {
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
        for (long s : which) {
            if (!drawSheet(outDir, sheetName(s, sheets), cellsOf(s, last), width)) {
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
        ordered.insert(s);
        const int width = static_cast<int>(std::to_string(found > 0 ? found : last).size());
        if (orders >= 0 && writeAll(orders, encode(SheetOrder{s, sheets, width, cellsOf(s, last)}))) return;
        stopDrawer();
        spawn({s}, last, sheets);
    };
    // Records in of each sheet: a sheet whose records are all in is drawn at once.
    std::map<long, long> inSheet;
    auto recordIn = [&](long number) {
        if (number <= 0 || found <= 0) return;
        const long s = (number - 1) / kPerSheet;
        const long size = std::min(found, (s + 1) * kPerSheet) - s * kPerSheet;
        if (++inSheet[s] < size || ordered.count(s)) return;
        reap(false);
        if (!drawerTried) drawerTried = startDrawer();
        order(s, found, (found + kPerSheet - 1) / kPerSheet);
    };

    // --progress: one line on the terminal for all the hosts together, at most ten times a second.
    long done = 0;
    auto lastShown = started;
    auto showProgress = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (!progress || found <= 0 || now - lastShown < std::chrono::milliseconds(100)) return;
        lastShown = now;
        const double seconds = std::chrono::duration<double>(now - started).count();
        const double rate = seconds > 0 ? done / seconds : 0;
        std::cerr << clear << "Merging: " << grouped(done) << " of " << counted(found, "record", "records");
        if (rate > 0 && done < found)
            std::cerr << ", " << static_cast<long>(rate + 0.5) << " records/s, "
                      << duration(static_cast<double>(found - done) / rate) << " left";
        std::cerr << std::flush;
    };
    auto handle = [&](Input& in, const std::string& line) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            std::cerr << clear << line << "\n";
            return;
        }
        if (j.contains("error")) {
            std::cerr << clear << "filemaker-host: " << j.value("error", "") << "\n    in " << j.value("calc", "")
                      << "\n";
            failedRun = true;
            return;
        }
        if (!j.contains("dialog")) return;
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
            if (r.number <= 0) return;
            const bool fresh = records.count(r.number) == 0;
            records[r.number] = r;
            logRecord(r);
            if (fresh) {
                ++done;
                recordIn(r.number);
            }
            showProgress();
        } else if (std::sscanf(title.c_str(), "Record %ld %15s", &number, tail) == 2 &&
                   std::strcmp(tail, "failed") == 0) {
            const auto v = splitCr(message, 4);
            const bool fresh = records.count(number) == 0;
            Record& r = records[number];
            r = Record{};
            r.number = number;
            r.status = "failed";
            r.name = v[0];
            r.call = v[1];
            r.code = v[2];
            r.text = oneLine(v[3]);
            std::cerr << clear << "record " << number << " (" << (r.name.empty() ? "no name" : r.name)
                      << "): " << r.call << (r.code.empty() ? " " : " failed: " + r.code + " ") << r.text << "\n";
            failedRun = true;
            logRecord(r);
            if (fresh) {
                ++done;
                recordIn(number);
            }
            showProgress();
        } else if (title == "merge.summary") {
            const auto v = splitCr(message, 7);
            in.summary = true;
            if (found == 0) found = std::strtol(v[0].c_str(), nullptr, 10);
            if (v[5] == "1") stopped = true;
            if (v[6] == "1") combinedFailed = true;
        } else if (title == "Mail merge") {
            in.summary = true;
            scriptSummary = true;
            std::cerr << clear << std::flush;
            std::cout << title << ": " << message << "\n" << std::flush;
        } else if (title == "Combined file failed") {
            const auto v = splitCr(message, 4);
            Record r{0, "failed", "", v[0], v[1], v[2], oneLine(v[3])};
            records[-1] = r;  // listed after the records in failures.csv
            combinedFailed = true;
            std::cerr << clear << r.name << ": " << r.call << " failed: " << r.code << " " << r.text << "\n";
        } else {
            std::cerr << clear << title << ": " << oneLine(message) << "\n";
        }
    };
    // Reads the inputs to their ends, a line at a time from whichever has one.
    auto readAllInputs = [&](std::vector<Input>& inputs) {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            std::vector<pollfd> fds;
            for (auto& in : inputs)
                if (in.fd >= 0) fds.push_back({in.fd, POLLIN, 0});
            if (fds.empty()) return;
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            for (auto& in : inputs) {
                if (in.fd < 0) continue;
                const auto p = std::find_if(fds.begin(), fds.end(), [&](const pollfd& f) { return f.fd == in.fd; });
                if (p == fds.end() || p->revents == 0) continue;
                const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
                if (n < 0 && errno == EINTR) continue;
                if (n > 0) in.pending.append(buffer.data(), static_cast<std::size_t>(n));
                std::size_t at = 0;
                for (std::size_t nl; (nl = in.pending.find('\n', at)) != std::string::npos; at = nl + 1)
                    handle(in, in.pending.substr(at, nl - at));
                in.pending.erase(0, at);
                if (n <= 0) {
                    if (!in.pending.empty()) handle(in, in.pending);
                    in.pending.clear();
                    if (in.fd != STDIN_FILENO) ::close(in.fd);
                    in.fd = -1;
                }
            }
        }
    };

    std::vector<Input> inputs;
    if (inputPaths.empty()) inputs.push_back(Input{STDIN_FILENO, "", false});
    for (const auto& path : inputPaths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::cerr << "quill-merge-report: cannot read " << path << ": " << std::strerror(errno) << "\n";
            failedRun = true;
            continue;
        }
        inputs.push_back(Input{fd, "", false});
    }
    readAllInputs(inputs);
    bool summaries = !inputs.empty();
    for (const auto& in : inputs) summaries = summaries && in.summary;
    if (!summaries) {
        std::cerr << "quill-merge-report: the merge ended without its summary\n";
        failedRun = true;
    }
    const auto mergeEnd = std::chrono::steady_clock::now();

    // all.pdf, made from the written files in record order by the program --combine names.
    if (!combine.empty() && summaries && !stopped) {
        const std::string list = outDir + "/.merge-written.csv";
        {
            std::ofstream f(list, std::ios::binary | std::ios::trunc);
            f << "path\n";
            for (const auto& [n, r] : records)
                if (n > 0 && r.status == "written") f << csvField(outDir + "/" + r.file) << "\n";
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            failedRun = true;
        } else {
            std::cout.flush();
            std::cerr.flush();
            const pid_t pid = fork();
            if (pid == 0) {
                std::signal(SIGINT, SIG_DFL);
                std::signal(SIGTERM, SIG_DFL);
                ::dup2(fds[1], STDOUT_FILENO);
                std::vector<char*> args;
                for (auto& a : combine) args.push_back(a.data());
                args.push_back(nullptr);
                ::execv(args[0], args.data());
                _exit(127);
            }
            ::close(fds[1]);
            std::vector<Input> output{Input{fds[0], "", false}};
            readAllInputs(output);
            int status = 0;
            if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
                combinedFailed = true;
            std::remove(list.c_str());
        }
    }
    if (combinedFailed) failedRun = true;

    if (found == 0 && !records.empty()) found = records.rbegin()->first;
    // The sheets left: every one with a record in, shared among the drawer, its set-up made, and
    // new workers.
    const long sheets = (found + kPerSheet - 1) / kPerSheet;
    std::vector<long> left;
    for (long s = 0; s < sheets; ++s)
        if (!ordered.count(s)) {
            bool any = false;
            for (long n = s * kPerSheet + 1; n <= std::min(found, (s + 1) * kPerSheet) && !any; ++n)
                any = records.count(n) > 0;
            if (any) left.push_back(s);
        }
    std::vector<std::vector<long>> shares(static_cast<std::size_t>(jobs));
    for (std::size_t i = 0; i < left.size(); ++i) shares[i % shares.size()].push_back(left[i]);
    for (std::size_t w = 0; w < shares.size(); ++w) {
        if (shares[w].empty()) continue;
        if (w == 0 && orders >= 0) {
            for (long s : shares[w]) order(s, found, sheets);
        } else {
            for (long s : shares[w]) ordered.insert(s);
            spawn(shares[w], found, sheets);
        }
    }
    stopDrawer();
    reap(true);
    if (logFd >= 0) ::close(logFd);

    // failures.csv: one line a failed record, the header alone when none failed.
    long written = 0, failed = 0, skipped = 0, firstMissing = 0;
    {
        const std::string path = outDir + "/failures.csv", part = path + ".part";
        std::ofstream f(part, std::ios::binary | std::ios::trunc);
        f << "record,name,call,code,message\r\n";
        auto row = [&](const std::string& n, const Record& r) {
            f << n << ',' << csvField(r.name) << ',' << csvField(r.call) << ',' << csvField(r.code) << ','
              << csvField(r.text) << "\r\n";
        };
        for (const auto& [n, r] : records) {
            if (n <= 0) continue;
            if (r.status == "written") ++written;
            if (r.status == "skipped") ++skipped;
            if (r.status == "failed") {
                ++failed;
                row(std::to_string(n), r);
            }
        }
        if (records.count(-1)) row("", records.at(-1));
        f.close();
        if (!f || std::rename(part.c_str(), path.c_str()) != 0) {
            std::cerr << "quill-merge-report: cannot write " << path << "\n";
            std::remove(part.c_str());
            failedRun = true;
        }
    }
    for (long n = 1; n <= found && firstMissing == 0; ++n)
        if (!records.count(n)) firstMissing = n;

    if (summaries && !scriptSummary) {
        std::string line = "Mail merge: ";
        if (stopped || firstMissing > 0)
            line += "stopped at record " + grouped(firstMissing > 0 ? firstMissing : found) + " of " + grouped(found) +
                    "; ";
        else
            line += counted(found, "record", "records") + ", ";
        line += counted(written, "file written", "files written") + ", " + grouped(failed) + " failed, " +
                grouped(skipped) + " skipped, " + duration(std::chrono::duration<double>(mergeEnd - started).count());
        if (combinedFailed) line += "; all.pdf failed";
        std::cerr << clear << std::flush;
        std::cout << line << "\n" << std::flush;
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - mergeEnd).count();
    if (!ordered.empty())
        std::cout << "Contact sheets: " << counted(static_cast<long>(ordered.size()), "sheet", "sheets") << " ("
                  << sheetName(*ordered.begin(), sheets)
                  << (ordered.size() > 1 ? " … " + sheetName(*ordered.rbegin(), sheets) : std::string()) << "), done "
                  << duration(seconds) << " after the merge"
                  << "; failures listed in " << outDir << "/failures.csv\n";
    return failedRun ? 1 : 0;
}
