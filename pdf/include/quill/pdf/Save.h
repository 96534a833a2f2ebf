// Writing a document to disk, always atomically.
#pragma once

#include <string>

#include "AtomicFile.h"

namespace quill::pdf {

class Document;

// Save flags (the SDK's PDSaveFlags values this engine looks at).
constexpr int kSaveFull = 0x01;
constexpr int kSaveCopy = 0x02;
constexpr int kSaveCollectGarbage = 0x20;

// Writes the whole document to `path` (only objects reachable from the trailer are written, so
// collecting garbage is always done). A signed document (a signature value, a /Perms dictionary,
// or saved that way before) is instead written as its file's bytes followed by an update holding
// the changes, so that its signatures stay valid (see IncrementalWriter.h). Without kSaveCopy the
// document is then tied to `path`; with it the document stays tied to its old file. Failures
// throw Error and leave `path` as it was.
void save(Document& doc, int flags, const std::string& path);

// Writes `doc` to `path` without re-binding it, through writeFileAtomically (AtomicFile.h).
// Exposed for printing and tests.
void writeAtomically(Document& doc, const std::string& path);

}  // namespace quill::pdf
