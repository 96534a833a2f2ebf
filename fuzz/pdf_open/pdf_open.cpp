// Fuzz target: the document open path (and what a plug-in does right after) over arbitrary bytes.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// The open path takes a file name, so each input goes through one scratch file per process.
struct Scratch {
    std::string path = "/tmp/quill-fuzz-pdf-open-" + std::to_string(::getpid()) + ".pdf";
    ~Scratch() { ::unlink(path.c_str()); }
};

const std::string& scratchPath() {
    static Scratch scratch;
    return scratch.path;
}

void exercise(const std::string& path, bool repair) {
    auto doc = quill::pdf::Document::open(path, repair);
    int n = doc->numPages();
    if (n <= 0) return;
    auto target = quill::pdf::Document::create();
    target->insertPages(quill::pdf::kLastPage, *doc, 0, quill::pdf::kAllPages, quill::pdf::kInsertAll);
    if (n > 1) target->deletePages(0, 0);
    QPDFWriter w(target->qpdf());
    w.setOutputMemory();
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.write();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (bool repair : {false, true}) {
        try {
            exercise(scratchPath(), repair);
        } catch (const quill::pdf::Error&) {
            // Refusing bad input with an Acrobat error is the expected outcome.
        } catch (const std::exception&) {
            // Writing a damaged document may still fail inside qpdf; the host turns these into
            // general errors. Only crashes and sanitizer reports count as findings.
        }
    }
    return 0;
}
