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
// They are drawn once the hosts are done (beside them the merge is a quarter
// to a third slower), shared among as many workers as there are processors
// online, N at least (default: the processors online), while all.pdf is made.
// Exit status: 0 when every summary came and nothing failed, 1 when a record,
// all.pdf, a sheet or a host failed, 2 on bad arguments.
//
// The parts: Arguments (the command line), Lines (the JSON lines and the
// inputs they come from), Failures (.merge-log, failures.csv and the summary),
// Sheet (drawing a sheet) and Workers (the processes that draw them); this file
// ties them together as the lines come.
#include <fcntl.h>
#include <poppler/GlobalParams.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Failures.h"
#include "Lines.h"
#include "Sheet.h"
#include "Workers.h"

namespace merge_report {

namespace {

using Clock = std::chrono::steady_clock;

class Merge {
public:
    Merge(Options options, bool tty)
        : o_(std::move(options)),
          clear_(tty ? "\r\033[K" : ""),  // on a terminal a message first clears the progress line
          progress_(o_.progress && tty),
          log_(o_.outDir),
          workers_(o_.outDir) {}

    int run();

private:
    void handle(Input& in, const std::string& line);
    void showProgress();
    void logRecord(const Record& r);
    void combine();
    void startSheets();

    long sheetsOf(long last) const { return (last + kPerSheet - 1) / kPerSheet; }
    SheetOrder orderFor(long s, long last, long sheets) const;

    const Options o_;
    const char* const clear_;
    const bool progress_;
    const Clock::time_point started_ = Clock::now();
    Clock::time_point lastShown_ = started_;

    std::map<long, Record> records_;  // by number; -1: the failure to make all.pdf
    bool failedRun_ = false, stopped_ = false, combinedFailed_ = false;
    bool scriptSummary_ = false;  // the script printed its own "Mail merge" line (run without "report")
    long found_ = 0;              // the record count, from the first record's dialog on
    long done_ = 0;               // records in, for the progress line

    MergeLog log_;
    Workers workers_;
    std::set<long> ordered_;  // sheets drawn or being drawn
};

SheetOrder Merge::orderFor(long s, long last, long sheets) const {
    SheetOrder o{s, sheets, static_cast<int>(std::to_string(found_ > 0 ? found_ : last).size()), {}};
    for (long n = s * kPerSheet + 1; n <= std::min(last, (s + 1) * kPerSheet); ++n) {
        auto it = records_.find(n);
        o.cells.push_back(it != records_.end() ? it->second : Record{n, "missing", "", "", "", "", ""});
    }
    return o;
}

void Merge::logRecord(const Record& r) {
    if (!log_.append(r)) failedRun_ = true;
}

// --progress: one line on the terminal for all the hosts together, at most ten times a second.
void Merge::showProgress() {
    const auto now = Clock::now();
    if (!progress_ || found_ <= 0 || now - lastShown_ < std::chrono::milliseconds(100)) return;
    lastShown_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double rate = seconds > 0 ? done_ / seconds : 0;
    std::cerr << clear_ << "Merging: " << grouped(done_) << " of " << counted(found_, "record", "records");
    if (rate > 0 && done_ < found_)
        std::cerr << ", " << static_cast<long>(rate + 0.5) << " records/s, "
                  << duration(static_cast<double>(found_ - done_) / rate) << " left";
    std::cerr << std::flush;
}

void Merge::handle(Input& in, const std::string& line) {
    const Message m = readMessage(line);
    using Kind = Message::Kind;
    switch (m.kind) {
        case Kind::Ignored:
            return;
        case Kind::Text:
            std::cerr << clear_ << m.text << "\n";
            return;
        case Kind::HostError:
            std::cerr << clear_ << "filemaker-host: " << m.title << "\n    in " << m.text << "\n";
            failedRun_ = true;
            return;
        case Kind::RecordDone:
        case Kind::RecordFailed: {
            const Record& r = m.record;
            if (m.kind == Kind::RecordDone) {
                found_ = m.found;
                if (r.number <= 0) return;
            } else {
                std::cerr << clear_ << "record " << r.number << " (" << (r.name.empty() ? "no name" : r.name)
                          << "): " << r.call << (r.code.empty() ? " " : " failed: " + r.code + " ") << r.text << "\n";
                failedRun_ = true;
            }
            const bool fresh = records_.count(r.number) == 0;
            records_[r.number] = r;
            logRecord(r);
            if (fresh) ++done_;
            showProgress();
            return;
        }
        case Kind::MergeSummary:
            in.summary = true;
            if (found_ == 0) found_ = m.found;
            if (m.stopped) stopped_ = true;
            if (m.combinedFailed) combinedFailed_ = true;
            return;
        case Kind::ScriptSummary:
            in.summary = true;
            scriptSummary_ = true;
            std::cerr << clear_ << std::flush;
            std::cout << m.title << ": " << m.text << "\n" << std::flush;
            return;
        case Kind::CombinedFailed: {
            const Record& r = m.record;
            records_[-1] = r;  // listed after the records in failures.csv
            combinedFailed_ = true;
            std::cerr << clear_ << r.name << ": " << r.call << " failed: " << r.code << " " << r.text << "\n";
            return;
        }
        case Kind::Dialog:
            std::cerr << clear_ << m.title << ": " << m.text << "\n";
            return;
    }
}

// all.pdf, made from the written files in record order by the program --combine names; its
// output is read as the hosts' is.
void Merge::combine() {
    const std::string list = writeWrittenList(o_.outDir, records_);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failedRun_ = true;
        return;
    }
    Fd read(fds[0]), write(fds[1]);
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        ::dup2(write.get(), STDOUT_FILENO);
        std::vector<std::string> args = o_.combine;
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    write.reset();
    std::vector<Input> output(1);
    output[0].fd = read.get();
    output[0].owned = std::move(read);
    readLines(output, [this](Input& in, const std::string& line) { handle(in, line); });
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        combinedFailed_ = true;
    std::remove(list.c_str());
}

// Every sheet with a record in, shared among new workers, one a processor (the hosts are done).
void Merge::startSheets() {
    const long sheets = sheetsOf(found_);
    std::vector<long> drawn;
    for (long s = 0; s < sheets; ++s) {
        bool any = false;
        for (long n = s * kPerSheet + 1; n <= std::min(found_, (s + 1) * kPerSheet) && !any; ++n)
            any = records_.count(n) > 0;
        if (any) drawn.push_back(s);
    }
    const long workers = std::max(o_.jobs, std::clamp(sysconf(_SC_NPROCESSORS_ONLN), 1L, 64L));
    std::vector<std::vector<SheetOrder>> shares(static_cast<std::size_t>(workers));
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        ordered_.insert(drawn[i]);
        shares[i % shares.size()].push_back(orderFor(drawn[i], found_, sheets));
    }
    for (const auto& these : shares)
        if (!these.empty()) workers_.spawn(these);
}

int Merge::run() {
    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(true);
    warmFontLookups();
    // A reader that went away (of the output, of the log) fails the write, not this process.
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C and SIGTERM stop the hosts after their record in hand; the report goes on to the end
    // of their output and writes what was done.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);

    if (o_.resume) log_.readInto(records_);
    log_.open();

    std::vector<Input> inputs;
    if (o_.inputs.empty()) inputs.emplace_back().fd = STDIN_FILENO;
    for (const auto& path : o_.inputs) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            std::cerr << "quill-merge-report: cannot read " << path << ": " << std::strerror(err) << "\n";
            failedRun_ = true;
            continue;
        }
        Input& in = inputs.emplace_back();
        in.fd = fd;
        in.owned = Fd(fd);
    }
    readLines(inputs, [this](Input& in, const std::string& line) { handle(in, line); });
    bool summaries = !inputs.empty();
    for (const auto& in : inputs) summaries = summaries && in.summary;
    if (!summaries) {
        std::cerr << "quill-merge-report: the merge ended without its summary\n";
        failedRun_ = true;
    }
    const auto mergeEnd = Clock::now();

    if (found_ == 0 && !records_.empty()) found_ = records_.rbegin()->first;
    // The sheets are drawn while all.pdf is made: both read the written files, neither writes them.
    startSheets();
    if (!o_.combine.empty() && summaries && !stopped_) combine();
    if (combinedFailed_) failedRun_ = true;
    workers_.reap(true);
    if (workers_.failed()) failedRun_ = true;
    log_.close();

    Outcome outcome{found_, 0, stopped_, combinedFailed_, {}, 0};
    if (!writeFailures(o_.outDir, records_, outcome.tally)) failedRun_ = true;
    for (long n = 1; n <= found_ && outcome.firstMissing == 0; ++n)
        if (!records_.count(n)) outcome.firstMissing = n;

    if (summaries && !scriptSummary_) {
        outcome.seconds = std::chrono::duration<double>(mergeEnd - started_).count();
        std::cerr << clear_ << std::flush;
        std::cout << summaryLine(outcome) << "\n" << std::flush;
    }

    const double seconds = std::chrono::duration<double>(Clock::now() - mergeEnd).count();
    const long sheets = sheetsOf(found_);
    if (!ordered_.empty())
        std::cout << "Contact sheets: " << counted(static_cast<long>(ordered_.size()), "sheet", "sheets") << " ("
                  << sheetName(o_.outDir, *ordered_.begin(), sheets)
                  << (ordered_.size() > 1 ? " … " + sheetName(o_.outDir, *ordered_.rbegin(), sheets) : std::string())
                  << "), done " << duration(seconds) << " after the merge"
                  << "; failures listed in " << o_.outDir << "/failures.csv\n";
    return failedRun_ ? 1 : 0;
}

}  // namespace

}  // namespace merge_report

int main(int argc, char** argv) {
    auto options = merge_report::parseArguments(argc, argv);
    if (!options) return 2;
    return merge_report::Merge(std::move(*options), ::isatty(STDERR_FILENO) != 0).run();
}
