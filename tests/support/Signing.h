// Signing PDFs for tests and benches: a throw-away NSS database with one self-signed certificate
// made by certutil, signatures added and checked by pdfsig. Programs run without a shell.
#pragma once

#include <filesystem>
#include <string>

namespace quill::testsupport {

namespace fs = std::filesystem;

// The self-signed RSA 2048 / SHA-256 certificate a signing database holds.
struct SigningCertificate {
    std::string nick;     // the name pdfsig signs with (-nick)
    std::string subject;  // e.g. "CN=Quillmark Test"
    int validMonths = 120;
    std::string noise;  // seed text for the key generation
};

// Makes an NSS database in `db` (created if missing) holding `cert`. Empty on success, else the
// command that failed ("certutil -N" or "certutil -S").
std::string makeSigningDatabase(const fs::path& db, const SigningCertificate& cert);

// A database made by makeSigningDatabase and the nick to sign with.
struct Signer {
    fs::path db;
    std::string nick;

    // Adds a new signature field `field` to `in` and signs it, writing `out`.
    bool addSignature(const fs::path& in, const fs::path& out, const std::string& field = "Approval") const;
    // Signs the existing empty signature field `field` of `in`, writing `out`.
    bool signField(const fs::path& in, const fs::path& out, const std::string& field) const;
    // What pdfsig reports about the signatures of `pdf`.
    std::string verify(const fs::path& pdf) const;
};

}  // namespace quill::testsupport
