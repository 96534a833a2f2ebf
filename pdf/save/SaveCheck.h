// Reading a save back before it replaces anything: the bytes read back must be the bytes written
// (their length and CRC-32, so a short, garbled or stale write anywhere in the file is caught),
// and the new file must open in qpdf as it stands (no repair, the same password), every object
// must start where its cross-reference entry says, with the document's page count, a sound
// trailer, its encryption and every document information entry the document holds. An update,
// whose bytes our own writer puts together, must also keep every field value the document holds,
// its objects must parse, and it must leave the bytes before it, and so every earlier signature,
// as they were. A full save's objects are qpdf's writing of the document itself: they are not
// parsed again, since a field walk of the new file would repeat what qpdf has just done and would
// cost more than the writing it checks.
//
// Cost: one pass over the new bytes, one parse of its cross-reference data, a look at each
// object's first bytes, and for an update a walk of its field tree and one read of the file's
// earlier bytes (compared, not parsed). Every page is parsed only when the stated page count
// differs.
// Not thread-safe: used from the host's main thread with its Document.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <qpdf/QPDFObjGen.hh>

namespace quill::pdf {

class Document;

// The highest object number this engine writes or accepts in an update (Acrobat's limit on
// indirect objects). A /Size past it cannot be written by an update without leaving the range
// readers accept.
constexpr long long kMaxObjectNumber = 8388607;

// What a saved file must show, gathered from the document just before it is written.
class SaveCheck {
public:
    explicit SaveCheck(Document& doc);

    // The save appends an update after `baseSize` bytes that `baseBytes` gives in order; the new
    // cross-reference section must name `prevXref` as /Prev and give /Size `size` (size 0: the
    // update is empty and the file is the base bytes alone).
    void expectUpdate(std::uint64_t baseSize, std::int64_t prevXref, long long size,
                      std::function<void(const std::function<void(const char*, std::size_t)>&)> baseBytes);

    // The save wrote these objects itself (the rest of a full save is copied from the file's
    // bytes or is qpdf's writing): they must parse.
    void expectParsed(std::vector<QPDFObjGen> objects) { parsed_ = std::move(objects); }

    // Notes bytes written to the new file, in the order written: every byte must pass through here.
    void written(const void* data, std::size_t size);

    // Reads the new file through `fd` and throws Error (kUnableToWrite) naming `target` and the
    // first thing found wrong. The descriptor's offset is left anywhere.
    void verify(int fd, const std::string& target);

private:
    Document& doc_;
    int pages_ = 0;
    bool encrypted_ = false;
    std::map<std::string, std::string> info_;  // key -> value (strings only)
    std::vector<QPDFObjGen> parsed_;
    std::map<std::string, std::string> fields_;  // full name -> value as text (updates only)
    std::uint64_t writtenSize_ = 0;
    unsigned long writtenCrc_ = 0;
    std::string pending_;  // written bytes not yet in writtenCrc_
    bool update_ = false;
    std::uint64_t baseSize_ = 0;
    std::int64_t prevXref_ = -1;
    long long size_ = 0;
    std::function<void(const std::function<void(const char*, std::size_t)>&)> baseBytes_;
};

// Test hook: called with the new file's descriptor just before it is read back; it may change
// the file (to show the check catches a bad write).
void setBeforeReadBackHookForTesting(std::function<void(int fd)> hook);

}  // namespace quill::pdf
