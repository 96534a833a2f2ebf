// The page count of a plainly made file, read straight from its bytes.
#pragma once

#include <optional>
#include <string_view>

namespace quill::pdf {

// The page count a file's page tree root states, when the file is plain: cross-reference tables
// (not streams) all in their fixed format, no encryption, no usage rights in the catalog, a direct
// integer /Count, checked as Document::numPages checks it (against the kids' own counts when the root
// has at most `checkKidsUpTo` kids, else against the number of kids) and at most `maxCount`. Such a
// file opens without qpdf reading anything yet: qpdf makes an object for every cross-reference entry
// and every kid of the root, most of an open and of a close of a large file. Anything else is
// std::nullopt, and the open reads the file through qpdf as before.
std::optional<long long> plainPageCount(std::string_view bytes, long long maxCount, long long checkKidsUpTo);

}  // namespace quill::pdf
