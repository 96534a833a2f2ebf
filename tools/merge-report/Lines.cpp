#include "Lines.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace merge_report {

namespace {

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

}  // namespace

Message readMessage(const std::string& line) {
    Message m;
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        m.kind = Message::Kind::Text;
        m.text = line;
        return m;
    }
    if (j.contains("error")) {
        m.kind = Message::Kind::HostError;
        m.title = j.value("error", "");
        m.text = j.value("calc", "");
        return m;
    }
    if (!j.contains("dialog")) return m;
    const std::string title = j.value("dialog", ""), message = j.value("message", "");
    long number = 0;
    char tail[16] = {};
    if (title == "merge.record") {
        const auto v = splitCr(message, 5);
        m.kind = Message::Kind::RecordDone;
        m.record.number = std::strtol(v[0].c_str(), nullptr, 10);
        m.found = std::strtol(v[1].c_str(), nullptr, 10);
        m.record.status = v[2];
        m.record.file = v[3];
        m.record.name = v[4];
    } else if (std::sscanf(title.c_str(), "Record %ld %15s", &number, tail) == 2 && std::strcmp(tail, "failed") == 0) {
        const auto v = splitCr(message, 4);
        m.kind = Message::Kind::RecordFailed;
        m.record = Record{number, "failed", "", v[0], v[1], v[2], oneLine(v[3])};
    } else if (title == "merge.summary") {
        const auto v = splitCr(message, 7);
        m.kind = Message::Kind::MergeSummary;
        m.found = std::strtol(v[0].c_str(), nullptr, 10);
        m.stopped = v[5] == "1";
        m.combinedFailed = v[6] == "1";
    } else if (title == "Mail merge") {
        m.kind = Message::Kind::ScriptSummary;
        m.title = title;
        m.text = message;
    } else if (title == "Combined file failed") {
        const auto v = splitCr(message, 4);
        m.kind = Message::Kind::CombinedFailed;
        m.record = Record{0, "failed", "", v[0], v[1], v[2], oneLine(v[3])};
    } else {
        m.kind = Message::Kind::Dialog;
        m.title = title;
        m.text = oneLine(message);
    }
    return m;
}

void readLines(std::vector<Input>& inputs, const std::function<void(Input&, const std::string&)>& line) {
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
                line(in, in.pending.substr(at, nl - at));
            in.pending.erase(0, at);
            if (n <= 0) {
                if (!in.pending.empty()) line(in, in.pending);
                in.pending.clear();
                in.owned.reset();
                in.fd = -1;
            }
        }
    }
}

}  // namespace merge_report
