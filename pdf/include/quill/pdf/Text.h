// Page text: the words of one page in reading order, with the two layout bits the word finder reports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quill::pdf {

class Document;

// Attribute bits of a word (the SDK's WXE_ADJACENT_TO_SPACE and WXE_LAST_WORD_ON_LINE).
constexpr std::uint16_t kWordSpaceAfter = 0x0800;
constexpr std::uint16_t kWordLastOnLine = 0x8000;

struct Word {
    std::u16string text;       // UTF-16; never empty, never holds a control character (no CR, no LF, no NUL)
    std::uint16_t attributes;  // kWordSpaceAfter and/or kWordLastOnLine
};

// The words of page `pageIndex` (0-based) of `doc`, in the reading order the text extractor gives
// (the order of pdftotext's default output). Throws Error (kNotValidPage) for a page out of range and
// Error for a document the extractor cannot read.
//
// Cost: the document is parsed once per generation and kept for later pages; one call reads and lays
// out only the page asked for. The parse is shared by every caller of the same Document and dropped
// when the Document goes away or changes; a change of known objects a parse can take over in place
// (a field's value and its appearance drawn again in its own stream) is read into the parse instead,
// at the cost of those objects. A reader going through the pages one by one (either way)
// has the next few extracted ahead on worker threads, each with a parse of its own; the answers are
// the same as without. A changed document is read ahead only once a second page of its current
// generation is asked for (a page read after each edit costs that page alone), and the parse a
// change makes obsolete is freed on a thread of its own. Thread-safe (calls are serialised).
std::vector<Word> pageWords(const std::shared_ptr<Document>& doc, int pageIndex);

// The same for a PDF file on disk, without a Document (tools and tests). Parses the file each call.
std::vector<Word> pageWordsFromFile(const std::string& path, int pageIndex);

// Drops every cached parse (memory pressure, tests).
void clearTextCache();
// How many parses of a document the page text has made in this process (tests).
std::uint64_t textParsesMade();

// Worker threads reading pages ahead, for parses made from now on: 0 turns reading ahead off (tests,
// benches). The default is 2 on a machine of two or more cores, else 0.
void setTextReadAheadLanes(int lanes);

}  // namespace quill::pdf
