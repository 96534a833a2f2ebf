#include "Failures.h"

#include <fcntl.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "quill/csv/CsvWriter.h"

namespace merge_report {

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

void MergeLog::readInto(std::map<long, Record>& records) const {
    std::ifstream log(path_);
    std::string line;
    while (std::getline(log, line)) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object()) continue;
        Record r{j.value("n", 0L),    j.value("status", ""), j.value("file", ""), j.value("name", ""),
                 j.value("call", ""), j.value("code", ""),   j.value("text", "")};
        if (r.number > 0) records[r.number] = r;
    }
}

void MergeLog::open() {
    fd_ = Fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
}

bool MergeLog::append(const Record& r) {
    const nlohmann::json j{{"n", r.number},  {"status", r.status}, {"file", r.file}, {"name", r.name},
                           {"call", r.call}, {"code", r.code},     {"text", r.text}};
    return fd_ && writeAll(fd_.get(), j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

bool writeFailures(const std::string& outDir, const std::map<long, Record>& records, Tally& tally) {
    quill::csv::CsvWriter csv;
    csv.record({"record", "name", "call", "code", "message"});
    auto row = [&](const std::string& n, const Record& r) { csv.record({n, r.name, r.call, r.code, r.text}); };
    for (const auto& [n, r] : records) {
        if (n <= 0) continue;
        if (r.status == "written") ++tally.written;
        if (r.status == "skipped") ++tally.skipped;
        if (r.status == "failed") {
            ++tally.failed;
            row(std::to_string(n), r);
        }
    }
    if (records.count(-1)) row("", records.at(-1));

    const std::string path = outDir + "/failures.csv", part = path + ".part";
    std::ofstream f(part, std::ios::binary | std::ios::trunc);
    f << csv.bytes();
    f.close();
    std::ifstream back(part, std::ios::binary);
    const std::string read((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    if (!f || read != csv.bytes() || std::rename(part.c_str(), path.c_str()) != 0) {
        std::cerr << "quill-merge-report: cannot write " << path << "\n";
        std::remove(part.c_str());
        return false;
    }
    return true;
}

std::string writeWrittenList(const std::string& outDir, const std::map<long, Record>& records) {
    // The combining script reads it as its records table, one path a line.
    quill::csv::CsvWriter csv(quill::csv::Dialect{quill::csv::Quoting::Needed, 0, "\n"});
    csv.record({"path"});
    for (const auto& [n, r] : records)
        if (n > 0 && r.status == "written") csv.record({outDir + "/" + r.file});
    const std::string list = outDir + "/.merge-written.csv";
    std::ofstream(list, std::ios::binary | std::ios::trunc) << csv.bytes();
    return list;
}

std::string summaryLine(const Outcome& o) {
    std::string line = "Mail merge: ";
    if (o.stopped || o.firstMissing > 0)
        line += "stopped at record " + grouped(o.firstMissing > 0 ? o.firstMissing : o.found) + " of " +
                grouped(o.found) + "; ";
    else
        line += counted(o.found, "record", "records") + ", ";
    line += counted(o.tally.written, "file written", "files written") + ", " + grouped(o.tally.failed) + " failed, " +
            grouped(o.tally.skipped) + " skipped, " + duration(o.seconds);
    if (o.combinedFailed) line += "; all.pdf failed";
    return line;
}

}  // namespace merge_report
