// Helpers shared by the document engine tests: temp folders, fixtures, running qpdf.
#pragma once

#include "Slurp.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace testutil {

inline fs::path fixtures() {
    return fs::path(QUILL_FIXTURES_DIR) / "pdfs";
}
inline fs::path truth() {
    return fs::path(QUILL_FIXTURES_DIR) / "truth";
}

struct TempDir : quill::testsupport::TempDir {
    TempDir() : quill::testsupport::TempDir("engine_docs") {}
};

// Runs a program (no shell) and returns its exit status and standard output.
inline int run(const std::vector<std::string>& argv, std::string* out = nullptr) {
    return quill::testsupport::runProgram(argv, out);
}

// Page count as qpdf reads it, or -1 when qpdf cannot read the file.
inline int qpdfPages(const fs::path& p) {
    std::string out;
    if (run({"qpdf", "--show-npages", p.string()}, &out) != 0) return -1;
    return std::atoi(out.c_str());
}

// True when `qpdf --check` finds no errors (warnings are allowed: exit 0 or 3).
inline bool qpdfCheck(const fs::path& p) {
    int rc = run({"qpdf", "--check", p.string()});
    return rc == 0 || rc == 3;
}

// Makes an n-page PDF whose page i (1-based) shows the text "<label> i".
inline void makePdf(const fs::path& out, int n, const std::string& label) {
    std::string objs;
    std::vector<std::size_t> offsets;
    std::string body = "%PDF-1.4\n";
    auto add = [&](const std::string& o) {
        offsets.push_back(body.size());
        body += std::to_string(offsets.size()) + " 0 obj\n" + o + "\nendobj\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < n; ++i) {
        add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
            std::to_string(5 + 2 * i) + " 0 R >>");
        std::string content = "BT /F1 12 Tf 20 100 Td (" + label + " " + std::to_string(i + 1) + ") Tj ET";
        add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    std::size_t xref = body.size();
    body += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (auto o : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        body += line;
    }
    body += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
            std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(out, std::ios::binary) << body;
}

// The text of each page, in order, as pdftotext reads it (pages split on form feeds).
inline std::vector<std::string> pageTexts(const fs::path& p) {
    std::string out;
    run({"pdftotext", "-layout", p.string(), "-"}, &out);
    std::vector<std::string> pages;
    std::string cur;
    for (char c : out) {
        if (c == '\f') {
            pages.push_back(cur);
            cur.clear();
        } else if (c != '\n' && c != ' ') {
            cur += c;
        }
    }
    return pages;
}

using quill::testsupport::slurp;

}  // namespace testutil
