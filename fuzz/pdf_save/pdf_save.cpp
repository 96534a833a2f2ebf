// Fuzz target: the save path over arbitrary bytes. A document opened from the input gets a field
// value and a title, is saved to a scratch file, and the saved file is opened again. A save that
// reports success must leave a file that opens and reads back what was set: anything else aborts
// (a failure answered as success). Refusals with an Error are expected outcomes.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"

#include <qpdf/QPDF.hh>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// Outcomes, for the mutation run's figures.
namespace pdf_save_counts {
long opened = 0, saved = 0, refusedAtSave = 0;
}

namespace {

// One scratch input and one scratch output per process.
struct Scratch {
    std::string in = "/tmp/quill-fuzz-pdf-save-" + std::to_string(::getpid()) + ".pdf";
    std::string out = "/tmp/quill-fuzz-pdf-save-" + std::to_string(::getpid()) + "-saved.pdf";
    ~Scratch() {
        ::unlink(in.c_str());
        ::unlink(out.c_str());
    }
};

const Scratch& scratch() {
    static Scratch s;
    return s;
}

[[noreturn]] void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "pdf_save: %s: %s\n", what, detail.c_str());
    std::abort();
}

void exercise(bool repair) {
    using namespace quill::pdf;
    auto doc = Document::open(scratch().in, repair);
    ++pdf_save_counts::opened;
    const std::u16string title = u"Fuzzed title \u00e9";
    setInfo(*doc, u"Title", title);
    std::u16string fieldName;
    try {
        auto fields = FormFields::forDocument(doc);
        for (std::size_t i = 0; i < fields->size(); ++i) {
            const FormField& f = fields->fields()[i];
            if (!f.named || !f.terminal || fields->effectiveKind(i) != "Tx") continue;
            fields->setValue(i, QPDFObjectHandle::newUnicodeString("fuzz value"));
            fieldName = f.fullName;
            break;
        }
    } catch (const Error&) {
        fieldName.clear();  // a locked or broken field: the title alone goes on
    }
    ::unlink(scratch().out.c_str());
    try {
        save(*doc, kSaveFull | kSaveCopy, scratch().out);
    } catch (const std::exception&) {
        ++pdf_save_counts::refusedAtSave;
        if (::access(scratch().out.c_str(), F_OK) == 0) finding("a refused save left a file", "");
        throw;
    }
    ++pdf_save_counts::saved;

    // Answered as success: the file must open without repair and say what was set.
    std::shared_ptr<Document> again;
    try {
        again = Document::open(scratch().out, false);
    } catch (const std::exception& e) {
        finding("a saved file does not open", e.what());
    }
    if (getInfo(*again, u"Title") != title) finding("the title did not read back", "");
    if (again->numPages() != doc->numPages()) finding("the page count changed", "");
    if (!fieldName.empty()) {
        auto fields = FormFields::forDocument(again);
        const int i = fields->find(fieldName);
        QPDFObjectHandle v = i >= 0 ? fields->value(static_cast<std::size_t>(i)) : QPDFObjectHandle::newNull();
        if (!v.isString() || v.getUTF8Value() != "fuzz value") finding("the field value did not read back", "");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scratch().in.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (bool repair : {false, true}) {
        try {
            exercise(repair);
        } catch (const quill::pdf::Error&) {
            // Refusing bad input (or a save that cannot be made) with an Acrobat error is expected.
        } catch (const std::exception&) {
            // qpdf's own exceptions, which the host turns into general errors.
        }
    }
    return 0;
}
