// Signed documents: one field set + save on a signed 1,000-page document (an incremental update
// of its file) beside the full rewrite, and page text after an edit beside page text before it.
//
//   bench_signed [--runs N] [--keep DIR]
// Prints medians and p90s and whether each goal is met. Not a test: run it by hand on a quiet machine.
#include "BenchSupport.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"
#include "IncrementalWriter.h"
#include "quill/pdf/Save.h"
#include "Signing.h"
#include "quill/pdf/Text.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quill::pdf;
using namespace quill::bench;

namespace {

void line(const char* what, Stats s) {
    std::printf("%-58s %9.2f ms (p90 %9.2f)\n", what, s.median, s.p90);
}

}  // namespace

int main(int argc, char** argv) {
    const quill::bench::Options options = quill::bench::parseOptions(argc, argv, "bench_signed", 21);
    const int runs = options.runs;
    const fs::path& dir = options.dir;
    const fs::path pdfs = fs::path(QUILL_FIXTURES_DIR) / "pdfs";

    // A 1,000-page document: the sample form's page, then 999 text pages; signed by pdfsig.
    const fs::path plain = dir / "form1000.pdf";
    {
        std::vector<std::string> cmd{"qpdf", "--empty", "--pages", (pdfs / "sample_form.pdf").string(), "1"};
        for (int i = 0; i < 18; ++i) cmd.push_back((pdfs / "pdkids.pdf").string());
        cmd.push_back((pdfs / "pdkids.pdf").string());
        cmd.push_back("1-9");
        cmd.push_back("--");
        cmd.push_back(plain.string());
        check(runProgram(cmd) == 0, "making the 1,000-page file");
    }
    const fs::path nss = dir / "nss";
    const std::string failed =
        quill::testsupport::makeSigningDatabase(nss, {"bench", "CN=Bench", 12, "bench_signed noise 0123456789abcdef"});
    check(failed.empty(), failed.c_str());
    const fs::path signedPdf = dir / "signed1000.pdf";
    check(quill::testsupport::Signer{nss, "bench"}.addSignature(plain, signedPdf), "signing");
    std::printf("runs: %d (median, p90); folder %s\n", runs, dir.c_str());

    // 1. One field set + save, over the document's own file.
    const fs::path work = dir / "work.pdf";
    fs::copy_file(signedPdf, work, fs::copy_options::overwrite_existing);
    auto doc = Document::open(work.string(), false);
    auto forms = FormFields::forDocument(doc);
    const int field = forms->find(u"Name_Last");
    check(field >= 0, "finding the field");
    int turn = 0;
    auto setOnce = [&] {
        forms->setValue(static_cast<std::size_t>(field),
                        QPDFObjectHandle::newUnicodeString("Value " + std::to_string(++turn % 2)));
        doc->markChanged();
    };
    Stats set = measure(runs, setOnce);
    Stats update = measure(runs, [&] {
        setOnce();
        check(!makeIncrementalUpdate(*doc).bytes.empty(), "an update");
    });
    Stats setSave = measure(runs, [&] {
        setOnce();
        save(*doc, kSaveFull | kSaveCollectGarbage, work.string());
    });
    // The same edit written as a whole new file (what every save did before).
    const fs::path rewrite = dir / "rewrite.pdf";
    Stats full = measure(std::max(3, runs / 4), [&] {
        setOnce();
        writeAtomically(*doc, rewrite.string());
    });
    std::printf("signed 1,000-page document, %ju bytes\n", static_cast<std::uintmax_t>(fs::file_size(signedPdf)));
    line("field set", set);
    line("field set + building the update", update);
    line("field set + save (update appended, file synced)", setSave);
    line("field set + full rewrite (before; signature broken)", full);
    std::printf("goal field set + save < 5 ms: %s (without the file sync: %s)\n",
                setSave.median < 5 ? "met" : "NOT met", update.median < 5 ? "met" : "NOT met");

    // 2. Page text of page 500 before any edit, and after a field set (the text reader then
    //    reads the file's bytes with the change appended in memory).
    auto textDoc = Document::open(signedPdf.string(), false);
    Stats before = measure(runs, [&] {
        clearTextCache();
        check(!pageWords(textDoc, 499).empty(), "page text");
    });
    auto textForms = FormFields::forDocument(textDoc);
    textForms->setValue(static_cast<std::size_t>(textForms->find(u"Name_Last")),
                        QPDFObjectHandle::newUnicodeString("Edited"));
    Stats after = measure(runs, [&] {
        textDoc->markChanged();
        check(!pageWords(textDoc, 499).empty(), "page text");
    });
    // What the text reader did before: the whole document written out for the extractor.
    Stats rewriteText = measure(runs, [&] {
        QPDFWriter w(textDoc->qpdf());
        w.setOutputMemory();
        w.setPreserveEncryption(false);
        w.setCompressStreams(false);
        w.setDecodeLevel(qpdf_dl_none);
        w.write();
    });
    line("page text, page 500, first request before any edit", before);
    line("page text, page 500, first request after a field set", after);
    line("  (before: the whole document written out, extractor not counted)", rewriteText);
    std::printf("goal after <= 2x before: %s (ratio %.2f)\n", after.median <= 2 * before.median ? "met" : "NOT met",
                after.median / before.median);

    // 3. The same on a 5,000-page unsigned document with one form field.
    const fs::path big = dir / "form5000.pdf";
    {
        std::vector<std::string> cmd{"qpdf", "--empty", "--pages", (pdfs / "sample_form.pdf").string(), "1"};
        for (int i = 0; i < 90; ++i) cmd.push_back((pdfs / "pdkids.pdf").string());
        cmd.push_back((pdfs / "pdkids.pdf").string());
        cmd.push_back("1-49");
        cmd.push_back("--");
        cmd.push_back(big.string());
        check(runProgram(cmd) == 0, "making the 5,000-page file");
    }
    auto bigDoc = Document::open(big.string(), false);
    check(bigDoc->numPages() == 5000, "5,000 pages");
    Stats bigBefore = measure(runs, [&] {
        clearTextCache();
        check(!pageWords(bigDoc, 2499).empty(), "page text");
    });
    auto bigForms = FormFields::forDocument(bigDoc);
    bigForms->setValue(static_cast<std::size_t>(bigForms->find(u"Name_Last")),
                       QPDFObjectHandle::newUnicodeString("Edited"));
    Stats bigAfter = measure(runs, [&] {
        bigDoc->markChanged();
        check(!pageWords(bigDoc, 2499).empty(), "page text");
    });
    line("5,000 pages: page text, page 2,500, before any edit", bigBefore);
    line("5,000 pages: page text, page 2,500, after a field set", bigAfter);
    std::printf("goal after <= 2x before: %s (ratio %.2f)\n",
                bigAfter.median <= 2 * bigBefore.median ? "met" : "NOT met", bigAfter.median / bigBefore.median);

    quill::bench::finish(options);
    return 0;
}
