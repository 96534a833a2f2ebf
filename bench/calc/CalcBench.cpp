// Evaluator speed: a mail-merge calculation, a script loop, parsing long
// text literals, a long "&" chain, a wide CSV and deeply nested If steps (the
// cost must grow with the size, not its square).
//
//   bench_calc     prints one line per measurement (medians of 5 runs) and the goals met
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "Calc.h"
#include "Evaluator.h"
#include "PluginHost.h"
#include "Records.h"
#include "Session.h"

namespace {

// Processor time since `start`: the machine may be shared, the wall clock then says little.
double cpuMs(std::clock_t start) {
    return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// The median of five runs, no warm-up.
double medianMs(const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < 5; ++i) ms.push_back(quill::bench::timeMs(work));
    return quill::bench::stats(ms).median;
}

}  // namespace

int main() {
    bool ok = true;
    fm_host::PluginHost host(56);

    // 1. The file-name calculation of the mail merge, parsed and evaluated per record.
    fm_host::Records records;
    records.add(fm_host::parseCsv("members", "Name\n\"O'Brien, Siobhán\"\n"));
    fm_host::Evaluator ev(host.lookup());
    ev.setRecords(&records);
    const std::string calc =
        "\"out/\" & Right ( \"0\" & Get ( RecordNumber ) ; 2 ) & \"-\" & Substitute ( Trim ( members::Name ) ; "
        "[ \" \" ; \"-\" ] ; [ \"/\" ; \"-\" ] ; [ \",\" ; \"\" ] ; [ \"'\" ; \"\" ] ) & \".pdf\"";
    const int n = 20000;
    const double calcMs = medianMs([&] {
        for (int i = 0; i < n; ++i) ev.evaluate(fm_host::parseCalc(calc));
    });
    const double perCalcUs = calcMs * 1000 / n;
    std::printf("merge file-name calculation: %.2f us each (parse + check + evaluate)\n", perCalcUs);
    ok = ok && perCalcUs < 200;

    // 2. A script loop: four steps an iteration, 10,000 iterations.
    const std::string path = "/tmp/bench_calc_" + std::to_string(::getpid()) + ".fmscript";
    std::ofstream(path)
        << "Set Variable [ $i ; Value: 0 ]\nLoop\n  Set Variable [ $i ; Value: $i + 1 ]\n"
           "  Exit Loop If [ $i \xE2\x89\xA5 10000 ]\n  If [ Mod ( $i ; 2 ) = 0 ]\n  End If\nEnd Loop\n";
    std::ostringstream sink;
    fm_host::Session session(host, false, sink);
    session.setQuiet(true);
    const double loopMs = medianMs([&] { session.runScriptFile(path, false); });
    std::filesystem::remove(path);
    const double stepsPerSecond = 50000 / (loopMs / 1000);
    std::printf("script loop: %.1f ms for 10,000 iterations (%.0f steps a second)\n", loopMs, stepsPerSecond);
    ok = ok && stepsPerSecond > 100000;

    // 3. Long literals: 1 MB and 4 MB of text.
    auto literalMs = [&](std::size_t bytes) {
        const std::string text = "Length ( \"" + std::string(bytes, 'x') + "\" )";
        return medianMs([&] { ev.evaluate(fm_host::parseCalc(text)); });
    };
    const double oneMb = literalMs(1 << 20), fourMb = literalMs(4 << 20);
    std::printf("1 MB literal: %.1f ms; 4 MB: %.1f ms (ratio %.2f, linear is 4)\n", oneMb, fourMb, fourMb / oneMb);
    ok = ok && fourMb / oneMb < 6;

    // 4. Long and deep calculations: each must cost linear time. Judged by
    // processor time (one thread: the wall clock of an idle machine).
    {
        std::string chain = "1";
        for (int i = 1; i < 200000; ++i) chain += " & 1";
        const std::clock_t cpu = std::clock();
        const double ms = medianMs([&] { ev.evaluate(fm_host::parseCalc("Length ( " + chain + " )")); });
        const double cpuEach = cpuMs(cpu) / 5;
        std::printf("\"&\" chain of 200,000 terms: %.1f ms (%.1f ms of CPU; goal < 1000)\n", ms, cpuEach);
        ok = ok && cpuEach < 1000;
    }
    {
        std::string header, row;
        for (int i = 0; i < 100000; ++i) {
            header += (i ? ",f" : "f") + std::to_string(i);
            row += (i ? "," : "") + std::to_string(i);
        }
        const std::string csv = header + "\n" + row + "\n";
        const std::clock_t cpu = std::clock();
        const double ms = medianMs([&] { fm_host::parseCsv("wide", csv); });
        const double cpuEach = cpuMs(cpu) / 5;
        std::printf("CSV of 100,000 columns: %.1f ms (%.1f ms of CPU; goal < 1000)\n", ms, cpuEach);
        ok = ok && cpuEach < 1000;
    }
    {
        std::string script;
        for (int i = 0; i < 50000; ++i) script += "If [ 1 ]\n";
        script += "Set Variable [ $deep ; Value: 1 ]\n";
        for (int i = 0; i < 50000; ++i) script += "End If\n";
        const std::string nested = "/tmp/bench_calc_if_" + std::to_string(::getpid()) + ".fmscript";
        std::ofstream(nested) << script;
        const std::clock_t cpu = std::clock();
        const double ms = medianMs([&] { session.runScriptFile(nested, false); });
        std::filesystem::remove(nested);
        const double cpuEach = cpuMs(cpu) / 5;
        std::printf("50,000 nested If steps: %.1f ms (%.1f ms of CPU; goal < 2000)\n", ms, cpuEach);
        ok = ok && cpuEach < 2000;
    }
    {
        // 50,000 nested If calls: refused at the depth limit, quickly and without using up the stack.
        std::string calc;
        for (int i = 0; i < 50000; ++i) calc += "If ( 1 ; ";
        calc += "1";
        for (int i = 0; i < 50000; ++i) calc += " ; 0 )";
        bool refused = false;
        const double ms = medianMs([&] {
            try {
                fm_host::parseCalc(calc);
            } catch (const fm_host::CalcError&) {
                refused = true;
            }
        });
        std::printf("50,000 nested If calls: refused %s in %.1f ms (goal < 2000)\n", refused ? "yes" : "NO", ms);
        ok = ok && refused && ms < 2000;
    }

    std::printf(ok ? "goals met\n" : "GOALS MISSED\n");
    return ok ? 0 : 1;
}
