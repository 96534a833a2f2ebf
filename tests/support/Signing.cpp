#include "Signing.h"

#include "RunProgram.h"

#include <fstream>

namespace quill::testsupport {

std::string makeSigningDatabase(const fs::path& db, const SigningCertificate& cert) {
    std::error_code ec;
    fs::create_directories(db, ec);
    const std::string dir = "sql:" + db.string();
    std::ofstream(db / "noise", std::ios::binary) << cert.noise;
    if (runProgram({"certutil", "-N", "-d", dir, "--empty-password"}) != 0) return "certutil -N";
    if (runProgram({"certutil",
                    "-S",
                    "-d",
                    dir,
                    "-n",
                    cert.nick,
                    "-s",
                    cert.subject,
                    "-x",
                    "-t",
                    "CT,C,C",
                    "-k",
                    "rsa",
                    "-g",
                    "2048",
                    "-Z",
                    "SHA256",
                    "-v",
                    std::to_string(cert.validMonths),
                    "-z",
                    (db / "noise").string()}) != 0)
        return "certutil -S";
    return "";
}

bool Signer::addSignature(const fs::path& in, const fs::path& out, const std::string& field) const {
    return runProgram({"pdfsig", "-nssdir", "sql:" + db.string(), "-nick", nick, "-add-signature",
                       "-new-signature-field-name", field, in.string(), out.string()}) == 0;
}

bool Signer::signField(const fs::path& in, const fs::path& out, const std::string& field) const {
    return runProgram({"pdfsig", "-nssdir", "sql:" + db.string(), "-nick", nick, "-sign", field, in.string(),
                       out.string()}) == 0;
}

std::string Signer::verify(const fs::path& pdf) const {
    std::string out;
    runProgram({"pdfsig", "-nssdir", "sql:" + db.string(), pdf.string()}, &out);
    return out;
}

}  // namespace quill::testsupport
