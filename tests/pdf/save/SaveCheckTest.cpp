// The read-back before a save replaces its file: a new file that came out wrong (its end or, for
// an update, the signed bytes before it) is never put in place, and the save says why.
#include "quill/pdf/AtomicFile.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "SaveCheck.h"
#include "Signing.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace quill::pdf;
using namespace testutil;

TEST(SaveCheck, ANewFileThatReadsBackWrongNeverReplacesTheOld) {
    TempDir dir;
    const fs::path nss = dir / "nss";
    const bool canSign = quill::testsupport::makeSigningDatabase(
                             nss, {"quill", "CN=Quillmark Check", 120, "save check noise 0123456789"})
                             .empty();
    const fs::path plain = dir / "plain.pdf";
    makePdf(plain, 2, "Plain");
    const fs::path signedPdf = dir / "signed.pdf";
    if (canSign) {
        ASSERT_TRUE((quill::testsupport::Signer{nss, "quill"}.addSignature(plain, signedPdf)));
    }
    const struct {
        const char* name;
        fs::path file;
        bool fromEnd;  // damage the end (the cross-reference position) rather than byte 200
    } rows[] = {{"whole file, end damaged", plain, true},
                {"whole file, a byte inside changed", plain, false},  // caught by the bytes, not the parse
                {"update, end damaged", signedPdf, true},
                {"update, signed bytes changed", signedPdf, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!fs::exists(row.file)) continue;  // no certutil: the signed rows are left out
        const std::string before = slurp(row.file);
        auto doc = Document::open(row.file.string(), false);
        const std::u16string title = u"Checked: " + utf8ToUtf16(row.name);  // a change in every row
        setInfo(*doc, u"Title", title);
        setBeforeReadBackHookForTesting([&](int fd) {
            const off_t size = ::lseek(fd, 0, SEEK_END);
            ASSERT_EQ(::pwrite(fd, "          ", 10, row.fromEnd ? size - 16 : 200), 10);
        });
        try {
            save(*doc, kSaveFull, row.file.string());
            ADD_FAILURE() << "a damaged save was put in place";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), err::kUnableToWrite);
            EXPECT_NE(std::string(e.what()).find("did not read back"), std::string::npos) << e.what();
        }
        setBeforeReadBackHookForTesting({});
        EXPECT_EQ(slurp(row.file), before);
        // Without the damage the same document saves, and the title reads back.
        save(*doc, kSaveFull, row.file.string());
        EXPECT_EQ(getInfo(*Document::open(row.file.string(), false), u"Title"), title);
    }
}
