// Progress: the records line on standard error.
#include "Progress.h"

#include <cmath>
#include <string>

namespace fm_host {

// Passes everything to the stream's own buffer, clearing the progress line
// before the first character of each write.
class Progress::ClearingBuf : public std::streambuf {
public:
    ClearingBuf(Progress& p, std::streambuf* next) : p_(p), next_(next) {}

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        p_.clear();
        return next_->sputc(static_cast<char>(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        p_.clear();
        return next_->sputn(s, n);
    }
    int sync() override { return next_->pubsync(); }

private:
    Progress& p_;
    std::streambuf* next_;
};

Progress::Progress(std::FILE* err, bool terminal, std::chrono::milliseconds every)
    : err_(err), terminal_(terminal), every_(terminal ? std::chrono::milliseconds(100) : every) {}

Progress::~Progress() {
    finish();
    if (guarded_) guarded_->rdbuf(original_);
}

void Progress::guard(std::ostream& out) {
    if (!terminal_ || guarded_) return;
    guarded_ = &out;
    original_ = out.rdbuf();
    buf_ = std::make_unique<ClearingBuf>(*this, original_);
    out.rdbuf(buf_.get());
}

std::string Progress::text(std::size_t done, std::size_t total, double seconds) {
    std::string s = std::to_string(done) + "/" + std::to_string(total) + " records";
    if (done == 0 || seconds <= 0) return s;
    const double rate = static_cast<double>(done) / seconds;
    char buf[64];
    std::snprintf(buf, sizeof buf, rate < 10 ? ", %.1f/s" : ", %.0f/s", rate);
    s += buf;
    const double left = static_cast<double>(total - std::min(done, total)) / rate;
    if (done < total) {
        const long l = std::lround(std::ceil(left));
        if (l >= 60)
            std::snprintf(buf, sizeof buf, ", %ld min %02ld s left", l / 60, l % 60);
        else
            std::snprintf(buf, sizeof buf, ", %ld s left", l);
        s += buf;
    }
    return s;
}

void Progress::update(std::size_t recordNumber, std::size_t found) {
    const auto now = std::chrono::steady_clock::now();
    if (!started_) {
        started_ = true;
        start_ = last_ = now;
    }
    done_ = recordNumber == 0 ? 0 : std::min(recordNumber - 1, found);
    total_ = found;
    if (now - last_ < every_) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line = text(done_, total_, seconds);
    if (terminal_) {
        std::fprintf(err_, "\r\033[K%s", line.c_str());
        shown_ = true;
    } else {
        std::fprintf(err_, "progress: %s\n", line.c_str());
    }
    std::fflush(err_);
}

void Progress::clear() {
    if (!shown_) return;
    shown_ = false;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
}

void Progress::finish() {
    clear();
}

}  // namespace fm_host
