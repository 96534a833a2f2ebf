// The incremental writer's own state and the parts its units share (change tracking, encryption,
// object writing, cross-reference writing). Private to those units.
#pragma once

#include "IncrementalWriter.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::pdf {

// The offsets qpdf seeked to while reading the file. A seek costs one append: the log is sorted
// and deduplicated only when asked (at an update), and when it has doubled since the last time,
// so it never holds much more than twice the distinct offsets.
class ReadLog {
public:
    void note(qpdf_offset_t at) {
        if (log_.size() >= limit_) compact();
        log_.push_back(at);
    }
    bool contains(qpdf_offset_t at);

private:
    void compact();
    std::vector<qpdf_offset_t> log_;
    std::size_t sorted_ = 0;  // log_[0, sorted_) is sorted and free of repeats
    std::size_t limit_ = std::size_t{1} << 20;
};

// What one update wrote, by object ("" = freed), until it is committed.
struct UpdateRecord {
    std::map<QPDFObjGen, std::string> fingerprints;
    int maxId = 0;
};

struct IncrementalState {
    std::shared_ptr<const void> owner;  // keeps `bytes` alive
    const char* bytes = nullptr;
    std::size_t size = 0;
    std::string path;    // read again from here when bytes is null
    std::string reread;  // those bytes, once read
    FileStamp stamp;     // the file as read (or as this engine last wrote it)
    std::shared_ptr<ReadLog> reads = std::make_shared<ReadLog>();

    std::vector<std::string> updates;    // saved to the document's own file since the open
    bool signedAtOpen = false;           // seen signed (usage rights) while it was opened
    std::optional<bool> signedWhenRead;  // the whole answer, worked out when a save first asks

    // Filled on first use.
    bool prepared = false;
    std::unique_ptr<QPDF> baseline;  // an untouched parse of the bytes read
    std::map<QPDFObjGen, QPDFXRefEntry> xref;
    int maxId = 0;            // highest object number of the file as read
    bool xrefStream = false;  // the file ends with a cross-reference stream
    bool hybrid = false;      // it ends with a table whose trailer names a stream too (/XRefStm)
    qpdf_offset_t lastXref = 0;
    long long trailerSize = 0;
    // What the updates saved to the document's own file wrote, by object ("" = freed).
    std::map<QPDFObjGen, std::string> committed;
    int committedMaxId = 0;
    // Hashes of baseline objects already looked at (the baseline never changes).
    std::map<QPDFObjGen, std::pair<std::size_t, std::size_t>> baselineHashes;
};

[[noreturn]] void cannotUpdate(const std::string& why);
IncrementalState& stateOf(Document& doc);
// The bytes read at the open (read again from disk for files too large to keep).
std::string_view originalBytes(IncrementalState& st);
// The size of the document's file now: the bytes read and the updates saved to it since.
std::uint64_t currentSize(IncrementalState& st);
// Reads the file's tail and cross-reference data and makes the baseline parse, once.
void prepare(Document& doc, IncrementalState& st);

// ---- change tracking (IncrementalTracking.cpp) ----

// Objects that may differ from the file: those read, those earlier updates wrote, and new ones.
std::vector<QPDFObjGen> changeCandidates(IncrementalState& st, QPDF& q);
// Whether `og`, whose fingerprint is now `fp`, is what the file already holds for it.
bool unchanged(IncrementalState& st, QPDFObjGen og, const std::string& fp);

// ---- encryption (IncrementalCrypt.cpp) ----

struct Crypt {
    bool on = false;
    std::string key;
    int V = 0, R = 0;
    QPDF::encryption_method_e streams = QPDF::e_none, strings = QPDF::e_none;
    bool encryptMetadata = true;
    // `plain` encrypted as object og's string or stream data is.
    std::string apply(QPDF::encryption_method_e method, QPDFObjGen og, const std::string& plain) const;
};
Crypt cryptOf(QPDF& q);
std::string md5(const std::string& data);

// ---- object writing (IncrementalObjects.cpp) ----

// The fingerprint of a null object.
extern const std::string kNull;
std::string hex(const std::string& s);
std::string ref(QPDFObjGen og);
// Serialises a direct part of object `og`; strings are encrypted with og's key when `crypt` is on.
// `top` is the object itself rather than a reference to it. The objects it refers to are added to
// `refs` when given.
void put(std::string& out, QPDFObjectHandle o, const Crypt* crypt, QPDFObjGen og, bool top = false,
         std::vector<QPDFObjGen>* refs = nullptr);
// A comparable form of an object: its serialisation (references as references, so nothing else
// is read), and for a stream its raw data too.
std::string fingerprint(QPDFObjectHandle o);
// The whole indirect object `og` ("n g obj ... endobj").
void putObject(std::string& out, QPDFObjGen og, QPDFObjectHandle o, const Crypt& crypt,
               std::vector<QPDFObjGen>* refs = nullptr);

// ---- cross-reference writing (IncrementalXref.cpp) ----

struct XrefEntry {
    bool freed = false;
    std::uint64_t offset = 0;
    int gen = 0;
};

// What an update's trailer repeats of the document's and what links it to the file.
struct TrailerFacts {
    QPDFObjectHandle trailer;  // the document's
    std::string id0, id1;      // the file's first identifier, and this revision's
    qpdf_offset_t prev = 0;    // the section the file ends with now
};

struct XrefWritten {
    std::uint64_t offset = 0;  // where the section starts in the file (startxref)
    long long size = 0;        // the /Size it gives
    int selfId = 0;            // the number a stream section took for itself; 0 when none
};

// Appends the cross-reference section listing `entries`, in the form the file ends with, its
// trailer and "startxref" to `out`, whose first byte lies at `base` in the file. `size` is the
// /Size before a stream section takes a number for itself.
XrefWritten appendXrefSection(std::string& out, std::uint64_t base, std::map<int, XrefEntry>& entries, long long size,
                              bool xrefStream, bool hybrid, const TrailerFacts& facts);

}  // namespace quill::pdf
