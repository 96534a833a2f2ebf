// Printing through libcups: the document is written to a private temporary PDF and submitted
// with a page range; no shell and no external program is involved.
#include "quill/pdf/Print.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "FormWriting.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Save.h"

#include <cups/cups.h>
#include <qpdf/QPDF.hh>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace quill::pdf {

namespace {

// A private folder for the print file, removed with everything in it.
struct TempFolder {
    std::string path;
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quill-print-XXXXXX";
        if (::mkdtemp(tmpl.data())) path = tmpl;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

// The default destination, freed with its holder on every way out.
struct DestFree {
    void operator()(cups_dest_t* d) const {
        if (d) cupsFreeDests(1, d);
    }
};
using DestHolder = std::unique_ptr<cups_dest_t, DestFree>;

}  // namespace

int print(Document& doc, int firstPage, int lastPage, const std::string& jobTitle) {
    const int n = doc.numPages();
    if (lastPage == kLastPage) lastPage = n - 1;
    if (n == 0) throw Error(err::kBadParm, "The document has no pages to print.");
    if (firstPage < 0 || firstPage >= n || lastPage < firstPage || lastPage >= n)
        throw Error(err::kBadParm, "The range of pages to print is not in the document.");

    DestHolder dest(cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr));
    if (!dest) throw Error(err::kGeneral, "No printer is available: set up a default printer and try again.");

    TempFolder folder;
    if (folder.path.empty()) throw Error(err::kFileIO, "The document could not be prepared for printing.");
    const std::string file = folder.path + "/print.pdf";
    finishFormForWriting(doc);
    // The printout shows the appearances this document carries. A form that asks viewers to
    // draw its fields would be drawn again by the print system, which shows what its fonts
    // lack as "?": every field gets an appearance here, and the print file does not ask.
    auto acroForm = doc.qpdf().getRoot().getKey("/AcroForm");
    auto asks = acroForm.isDictionary() ? acroForm.getKey("/NeedAppearances") : QPDFObjectHandle::newNull();
    if (asks.isBool() && asks.getBoolValue()) {
        drawAllAppearances(doc);
        acroForm.removeKey("/NeedAppearances");
        try {
            writeAtomically(doc, file);
        } catch (...) {
            acroForm.replaceKey("/NeedAppearances", asks);
            throw;
        }
        acroForm.replaceKey("/NeedAppearances", asks);
    } else {
        writeAtomically(doc, file);
    }

    int numOptions = 0;
    cups_option_t* options = nullptr;
    const std::string range = std::to_string(firstPage + 1) + "-" + std::to_string(lastPage + 1);
    numOptions = cupsAddOption("page-ranges", range.c_str(), numOptions, &options);
    numOptions = cupsAddOption("document-format", "application/pdf", numOptions, &options);
    std::string title = jobTitle;
    if (title.empty()) {
        const std::string& p = doc.path();
        title = p.empty() ? "Untitled" : std::filesystem::path(p).filename().string();
    }
    // The file is sent to the scheduler before cupsPrintFile2 returns, so the folder may go after.
    int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, dest->name, file.c_str(), title.c_str(), numOptions, options);
    std::string printer = dest->name;
    cupsFreeOptions(numOptions, options);
    if (job == 0) {
        std::string why = cupsLastErrorString();
        while (!why.empty() && why.back() == '.') why.pop_back();
        throw Error(err::kGeneral, "The printer \"" + printer + "\" refused the job: " + why + ".");
    }
    return job;
}

}  // namespace quill::pdf
