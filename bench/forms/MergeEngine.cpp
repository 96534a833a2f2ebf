// The engine's part of one mail-merge record, in one process and without the two hosts: open the
// form, set its six fields and the title, save a copy, close; the records as bench/report makes
// them (names in many scripts). What a record costs acrobat-host's engine, to profile on its own.
//
//   bench_merge_engine FORM.pdf RECORDS OUT_DIR
#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Unicode.h"

using namespace quill::pdf;

int main(int argc, char** argv) {
    if (argc != 4 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: bench_merge_engine FORM.pdf RECORDS OUT_DIR\n");
        return 2;
    }
    const std::string form = argv[1], out = argv[3];
    const int records = std::atoi(argv[2]);
    const std::vector<std::string> names = {
        "Ingrid Solberg",       "Łukasz Wróbel", "Σοφία Παπαδοπούλου", "Анна Иванова",  "محمد العلي", "דוד כהן",
        "अनन्या शर्मा",           "สมชาย ใจดี",     "田中 花子",          "김민준",        "王小明",     "Nguyễn Văn An",
        "O'Brien, \"Siobhán\"", "Zoë Ålund",     "Ayşe Yılmaz",        "Kofi Mensah",   "ኣበበ በቀለ",    "Արամ Պետրոսյան",
        "გიორგი ბერიძე",        "José Núñez",    "Þóra Björk",         "Chloé Lefèvre", "😀 Smiley",   "Tromsø Club"};
    const auto started = std::chrono::steady_clock::now();
    for (int i = 1; i <= records; ++i) {
        const std::string name = names[static_cast<std::size_t>(i) % names.size()] + " " + std::to_string(i);
        const std::vector<std::pair<const char*, std::string>> values = {
            {"applicant.name", name},
            {"applicant.city", "Oslo"},
            {"email", "m" + std::to_string(i) + "@example.org"},
            {"plan", i % 2 ? "Basic" : "Premium"},
            {"country", "Norway"},
            {"agree", i % 3 ? "Ja" : "Off"}};
        auto doc = Document::open(form, false);
        auto fields = FormFields::forDocument(doc);
        for (const auto& [field, value] : values) {
            const int at = fields->find(quill::unicode::utf8ToUtf16(field));
            if (at >= 0) fields->setValue(static_cast<std::size_t>(at), QPDFObjectHandle::newUnicodeString(value));
        }
        setInfo(*doc, u"Title", quill::unicode::utf8ToUtf16("Membership of " + name));
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out + "/" + std::to_string(i) + ".pdf");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d records %.3f s %.3f ms a record\n", records, seconds, 1000 * seconds / records);
}
