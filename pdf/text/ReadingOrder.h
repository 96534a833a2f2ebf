// Words in reading order: the extractor's words, laid out left to right as they stand on the page,
// turned into the order they are read in (right-to-left runs and lines reversed) and into the
// words the word finder reports.
#pragma once

#include <vector>

#include "quill/pdf/Text.h"

namespace quill::pdf {

// One word as the extractor lays it out: its characters left to right, and whether a space follows.
struct RawWord {
    std::vector<unsigned int> chars;
    bool spaceAfter = false;
};

// Appends one line's words, left to right on the page, to `words` in reading order, with their
// layout bits; `line` is left empty.
void emitLine(std::vector<RawWord>& line, std::vector<Word>& words);

}  // namespace quill::pdf
