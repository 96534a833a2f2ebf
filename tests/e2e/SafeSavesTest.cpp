// Saves that must not lose anything, end to end through filemaker-host and a real acrobat-host:
// a save read back before it replaces the file, limits and locks a signed file sets, page calls
// on certified files, the form an update keeps, files changed behind the application's back,
// links planted in shared folders, FIFOs and a runtime folder of another user.
#include "Slurp.h"
#include "Harness.h"
#include "Signing.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>

using namespace e2e;

namespace {

using quill::testsupport::slurp;

void spit(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

long long lastStartxref(const std::string& pdf) {
    return std::stoll(pdf.substr(pdf.rfind("startxref") + 9));
}

// Appends a hand-written update to `pdf`: `objects` (number -> dictionary text) and a table
// listing them; with `hybrid` also a cross-reference stream the trailer names in /XRefStm.
void appendUpdate(const fs::path& pdf, const std::map<int, std::string>& objects, const std::string& trailerExtra,
                  long long size = 0, bool hybrid = false) {
    std::string bytes = slurp(pdf);
    QPDF q;
    q.processFile(pdf.c_str());
    QPDFObjectHandle trailer = q.getTrailer();
    if (size == 0) size = trailer.getKey("/Size").getIntValue();
    std::map<int, long long> offsets;
    std::string out = "\n";
    for (const auto& [n, body] : objects) {
        offsets[n] = static_cast<long long>(bytes.size() + out.size());
        out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
        size = std::max<long long>(size, n + 1);
    }
    std::string xrefStm;
    if (hybrid) {
        const int self = static_cast<int>(size++);
        const long long at = static_cast<long long>(bytes.size() + out.size());
        offsets[self] = at;
        std::string row = {'\x01',
                           static_cast<char>(at >> 24),
                           static_cast<char>(at >> 16),
                           static_cast<char>(at >> 8),
                           static_cast<char>(at),
                           '\0',
                           '\0'};
        out += std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) + " /W [1 4 2] /Index [" +
               std::to_string(self) + " 1] /Length 7 >>\nstream\n" + row + "\nendstream\nendobj\n";
        xrefStm = " /XRefStm " + std::to_string(at);
    }
    const long long xref = static_cast<long long>(bytes.size() + out.size());
    out += "xref\n";
    for (const auto& [n, at] : offsets) {
        char line[64];
        std::snprintf(line, sizeof line, "%d 1\n%010lld 00000 n\r\n", n, at);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + trailer.getKey("/Root").unparse() + " /Prev " +
           std::to_string(lastStartxref(bytes)) + xrefStm + " " + trailerExtra + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    spit(pdf, bytes + out);
}

class SafeSaves : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    fs::path nss() {
        const fs::path db = box.root() / "nss";
        if (fs::exists(db / "ready")) return db;
        EXPECT_EQ(quill::testsupport::makeSigningDatabase(
                      db, {"quill", "CN=Quillmark Safe Saves", 120, "quillmark safe saves signing noise 0123456789"}),
                  "");
        std::ofstream(db / "ready") << "";
        return db;
    }
    quill::testsupport::Signer signer() { return {nss(), "quill"}; }
    int validSignatures(const fs::path& pdf) { return count(signer().verify(pdf), "Signature is Valid."); }
    // sample_form.pdf signed in its "EMPLOYEE SIGNATURE" field, the field given `lock` first.
    fs::path signedForm(const std::string& name, const std::string& lock = {}) {
        const fs::path prepared = box.root() / ("unsigned-" + name);
        QPDF q;
        q.processFile(fixture("sample_form.pdf").c_str());
        for (auto& f : q.getRoot().getKey("/AcroForm").getKey("/Fields").aitems())
            if (f.getKey("/FT").isNameAndEquals("/Sig") && !lock.empty())
                f.replaceKey("/Lock", QPDFObjectHandle::parse(lock));
        QPDFWriter w(q, prepared.c_str());
        w.write();
        const fs::path pdf = box.root() / name;
        EXPECT_TRUE(signer().signField(prepared, pdf, "EMPLOYEE SIGNATURE"));
        EXPECT_EQ(validSignatures(pdf), 1);
        return pdf;
    }
    void open(const fs::path& pdf) { ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError(); }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

// A file qpdf opens but writes back unreadable (an RC4 key /Length of 127 bits): the save reads
// the new file back, finds it unreadable and keeps the original, for save and save as alike.
TEST_F(SafeSaves, ASaveThatDoesNotReadBackKeepsTheFile) {
    const fs::path rc4 = box.root() / "rc4.pdf";
    ASSERT_EQ(run({"/usr/bin/qpdf", "--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--",
                   fixture("AcroForm_TEST_compiled.pdf"), rc4.string()})
                  .status,
              0);
    std::string bytes = slurp(rc4);
    ASSERT_NE(bytes.find("/Length 128"), std::string::npos);
    bytes.replace(bytes.find("/Length 128"), 11, "/Length 127");
    spit(rc4, bytes);

    open(rc4);
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Lost?\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1115");
    EXPECT_NE(fm.lastError().find("did not read back"), std::string::npos) << fm.lastError();
    EXPECT_EQ(slurp(rc4), bytes);
    const fs::path copy = box.root() / "copy.pdf";
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(copy) + " )"), "!!ERROR!!");
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), "Lost?") << "the document stays open with its changes";
}

// A signed file whose last section claims /Size 2147483647: no update can number past the limit.
TEST_F(SafeSaves, AnUpdatePastTheObjectLimitIsRefused) {
    const fs::path pdf = signedForm("huge-size.pdf");
    QPDF q;
    q.processFile(pdf.c_str());
    appendUpdate(pdf, {{static_cast<int>(q.getTrailer().getKey("/Size").getIntValue()), "<< /Quill (size) >>"}}, "",
                 2147483647LL);
    const std::string before = slurp(pdf);
    open(pdf);
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Overflow\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
    EXPECT_NE(fm.lastError().find("past the limit of 8388607"), std::string::npos) << fm.lastError();
    EXPECT_EQ(slurp(pdf), before);
}

// A signature's /Lock /P counts as a certification's /DocMDP /P.
TEST_F(SafeSaves, ALockPermissionIsHonouredAsDocMDP) {
    struct Row {
        std::string lock;
        bool fill, title;  // allowed
    };
    const Row rows[] = {
        {"<< /Type /SigFieldLock /Action /All /P 1 >>", false, false},
        {"<< /Type /SigFieldLock /Action /Include /Fields [(Dept)] /P 1 >>", false, false},
        {"<< /Type /SigFieldLock /Action /Include /Fields [(Dept)] /P 2 >>", true, true},
        {"<< /Type /SigFieldLock /Action /Include /Fields [(Dept)] /P 3 >>", true, true},
    };
    int i = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lock);
        const fs::path pdf = signedForm("lock" + std::to_string(i++) + ".pdf", row.lock);
        open(pdf);
        EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"Name_First\" ; \"Ingrid\" )"), row.fill ? "0" : "!!ERROR!!");
        EXPECT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Retitled\" )"), row.title ? "0" : "!!ERROR!!");
        EXPECT_EQ(fm("Torv_DeletePages ( 1 ; 1 )"), "!!ERROR!!") << "no lock allows page changes";
        EXPECT_EQ(fm.lastErrorNumber(), "-1118");
        EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
        fm("Torv_ClosePDF");
        EXPECT_EQ(validSignatures(pdf), 1);
        EXPECT_EQ(run({"/usr/bin/pdftk", pdf.string(), "dump_data_fields_utf8"}).out.find("FieldValue: Ingrid") !=
                      std::string::npos,
                  row.fill);
    }
}

// sample2.pdf, certified by another signing tool (pdfcpu) with no changes allowed: every page
// call answers its own error at once and nothing waits for the save.
TEST_F(SafeSaves, PageCallsOnACertifiedDocumentAreRefusedAtTheCall) {
    const fs::path pdf = box.copy(fixture("sample2.pdf"));
    const fs::path other = box.copy(fixture("hello_world_rotated.pdf"));
    const std::string before = slurp(pdf);
    open(pdf);
    const std::string pages = fm("Torv_GetNumPages");
    const struct {
        std::string call, code, words;
    } rows[] = {
        {"Torv_InsertPages ( 1 ; " + lit(other) + " ; 1 ; 1 ; 0 )", "-1117", "Error inserting page(s): "},
        {"Torv_DeletePages ( 1 ; 1 )", "-1118", "Error deleting page(s): "},
        {"Torv_AppendPDF ( " + lit(other) + " )", "-1113", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        EXPECT_EQ(fm(row.call), "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), row.code);
        const std::string why = fm.lastError();
        EXPECT_EQ(why.rfind(row.words, 0), 0u) << why;
        EXPECT_NE(why.find("certified against page changes"), std::string::npos) << why;
        EXPECT_EQ(fm("Torv_GetNumPages"), pages);
    }
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << "nothing was queued: " << fm.lastError();
    EXPECT_EQ(slurp(pdf), before);
}

// The rule for unsigned files that already carry updates (AcroFormsBasicFields.pdf has four):
// a save rewrites them whole, one revision, as Acrobat's full save does.
TEST_F(SafeSaves, AnUnsignedFileWithUpdatesIsRewrittenWhole) {
    const fs::path pdf = box.copy(fixture("AcroFormsBasicFields.pdf"));
    ASSERT_GT(count(slurp(pdf), "%%EOF"), 1);
    open(pdf);
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"One revision\" )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    const std::string saved = slurp(pdf);
    EXPECT_EQ(count(saved, "%%EOF"), 1);
    EXPECT_EQ(saved.find("/Prev"), std::string::npos);
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", pdf.string()}).status, 0);
    EXPECT_NE(run({"/usr/bin/pdfinfo", pdf.string()}).out.find("One revision"), std::string::npos);
}

// A signed file whose last section is a hybrid one (a table naming a stream in /XRefStm) gets an
// update of the same form; the new objects are in its table.
TEST_F(SafeSaves, AHybridFileKeepsItsHybridForm) {
    const fs::path pdf = signedForm("hybrid.pdf");
    appendUpdate(pdf, {}, "", 0, true);
    const std::string before = slurp(pdf);
    open(pdf);
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Still hybrid\" )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    const std::string saved = slurp(pdf);
    ASSERT_EQ(saved.compare(0, before.size(), before), 0);
    const std::string update = saved.substr(before.size());
    const std::string tail = update.substr(update.rfind("trailer"));
    EXPECT_NE(tail.find("/XRefStm"), std::string::npos) << update;
    EXPECT_NE(update.find("/Type /XRef"), std::string::npos);
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", pdf.string()}).status, 0);
    EXPECT_NE(run({"/usr/bin/pdfinfo", pdf.string()}).out.find("Still hybrid"), std::string::npos);
    EXPECT_EQ(validSignatures(pdf), 1);
}

// A file over 128 MB whose signature the form no longer reaches is still found signed (its
// bytes are searched whole) and gets an update.
TEST_F(SafeSaves, ALargeFileWithAnUnreachableSignatureIsUpdated) {
    const fs::path pdf = signedForm("large.pdf");
    QPDF q;
    q.processFile(pdf.c_str());
    QPDFObjectHandle root = q.getRoot();
    // A catalog whose form lists no field, and 129 MB of a stream nothing refers to.
    std::string catalog =
        "<< /Type /Catalog /Pages " + root.getKey("/Pages").unparse() + " /AcroForm << /Fields [] >> >>";
    const int filler = static_cast<int>(q.getTrailer().getKey("/Size").getIntValue());
    const std::string padding(129u << 20, ' ');
    appendUpdate(pdf,
                 {{root.getObjectID(), catalog},
                  {filler, "<< /Length " + std::to_string(padding.size()) + " >>\nstream\n" + padding + "\nendstream"}},
                 "");
    const auto size = fs::file_size(pdf);
    open(pdf);
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Large\" )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_GT(fs::file_size(pdf), size);
    EXPECT_LT(fs::file_size(pdf), size + 4096) << "rewritten whole instead of updated";
    EXPECT_NE(run({"/usr/bin/pdfinfo", pdf.string()}).out.find("Large"), std::string::npos);
}

// Another program changes the file between open and save, keeping its size (and with `sameTime`
// its modification time too): the save is refused and that program's bytes stay.
TEST_F(SafeSaves, AFileChangedOnDiskSinceTheOpenIsNotOverwritten) {
    const struct {
        std::string name;
        bool sign;
        bool replace;  // a new file renamed over it (same size and time) rather than written in place
        bool sameTime = false;
    } rows[] = {{"in place, unsigned", false, false},
                {"replaced, unsigned", false, true},
                {"in place, signed", true, false},
                {"in place, same time, unsigned", false, false, true},
                {"in place, same time, signed", true, false, true}};
    int i = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path pdf =
            row.sign ? signedForm("changed" + std::to_string(i) + ".pdf")
                     : box.copy(fixture("AcroForm_TEST_compiled.pdf"), "changed" + std::to_string(i) + ".pdf");
        ++i;
        open(pdf);
        ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Mine\" )"), "0") << fm.lastError();
        std::string theirs = slurp(pdf);
        theirs[theirs.size() - 2] = theirs[theirs.size() - 2] == 'F' ? 'f' : 'F';  // "%%EOF" -> "%%EOf"
        struct stat st {};
        ::stat(pdf.c_str(), &st);
        if (row.replace) {
            const fs::path other = pdf.string() + ".new";
            spit(other, theirs);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, other.c_str(), times, 0);
            fs::rename(other, pdf);
        } else {
            spit(pdf, theirs);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            if (row.sameTime) ::utimensat(AT_FDCWD, pdf.c_str(), times, 0);
        }
        EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
        EXPECT_NE(fm.lastError().find("changed on disk after it was opened"), std::string::npos) << fm.lastError();
        EXPECT_EQ(slurp(pdf), theirs);
        fm("Torv_ClosePDF");
    }
}

// Save as onto a link another user made in a sticky folder everyone may write (/tmp's kind):
// refused, the file the link names untouched; the user's own link there is followed.
TEST_F(SafeSaves, SaveAsOntoALinkPlantedInASharedFolderIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a link of another user needs root";
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const fs::path shared = box.root() / "shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 01777);
    const fs::path mine = box.root() / "private.pdf";
    spit(mine, "my private file");
    const fs::path doc = box.copy(fixture("AcroForm_TEST_compiled.pdf"));
    open(doc);
    const struct {
        std::string name;
        uid_t owner;
        bool refused;
    } rows[] = {{"planted.pdf", nobody->pw_uid, true}, {"own.pdf", ::geteuid(), false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path link = shared / row.name;
        fs::create_symlink(mine, link);
        ASSERT_EQ(::lchown(link.c_str(), row.owner, static_cast<gid_t>(-1)), 0);
        if (row.refused) {
            EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(link) + " )"), "!!ERROR!!");
            EXPECT_NE(fm.lastError().find("symbolic link that another user made"), std::string::npos) << fm.lastError();
            EXPECT_EQ(slurp(mine), "my private file");
        } else {
            EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(link) + " )"), "0") << fm.lastError();
            EXPECT_EQ(pagesOf(mine), 1) << "the user's own link names the file saved";
        }
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

// A FIFO is refused at once (nothing writes to it), and the application keeps answering.
TEST_F(SafeSaves, OpeningAFifoNeverHangs) {
    const fs::path fifo = box.root() / "pipe.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(fifo) + " )"), "!!ERROR!!");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_NE(fm.lastError().find("not a regular file"), std::string::npos) << fm.lastError();
    open(box.copy(fixture("AcroForm_TEST_compiled.pdf")));
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
}

}  // namespace

// A runtime folder another user made first: the error names the folder and why it is not safe.
TEST(SafeSavesRuntime, ARuntimeFolderOfAnotherUserIsNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving the folder to another user needs root";
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    Sandbox box;
    ASSERT_EQ(::chown(box.runtime().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    FmSession fm{box};
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(fixture("AcroForm_TEST_compiled.pdf")) + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1100");
    const std::string why = fm.lastError();
    EXPECT_NE(why.find(box.runtime().string()), std::string::npos) << why;
    EXPECT_NE(why.find("belongs to another user"), std::string::npos) << why;
    // Given back so that the sandbox can remove it as its own.
    EXPECT_EQ(::chown(box.runtime().c_str(), ::geteuid(), ::getegid()), 0) << std::strerror(errno);
}
