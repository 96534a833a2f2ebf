// Page text over poppler's text extractor; the only file of the host that includes poppler headers.
#include "Text.h"

#include "Document.h"
#include "Error.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <poppler/Error.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/Stream.h>
#include <poppler/TextOutputDev.h>
#include <poppler/goo/GooString.h>

#include <syslog.h>

#include <list>
#include <mutex>

namespace quill::pdf {
namespace {

// poppler reports recoverable trouble in damaged files through this hook; the host logs, never prints.
void logPopplerError(ErrorCategory, Goffset pos, const char* msg) {
  syslog(LOG_DEBUG, "text extractor: %s (at %lld)", msg ? msg : "", static_cast<long long>(pos));
}

void initPoppler() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!globalParams) globalParams = std::make_unique<GlobalParams>();
    setErrorCallback(&logPopplerError);
  });
}

// One parse of one document generation. `bytes` (when the parse reads from memory) must outlive `pdf`:
// members are destroyed in reverse order, so keep `bytes` above `pdf`.
struct Parsed {
  const Document* key = nullptr;
  std::weak_ptr<Document> owner;
  std::uint64_t generation = 0;
  std::shared_ptr<Buffer> bytes;
  std::unique_ptr<PDFDoc> pdf;
};

std::unique_ptr<PDFDoc> openFile(const std::string& path) {
  auto pdf = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
  if (!pdf->isOk()) {
    throw Error(err::kUnableToRead, "The text of the document could not be read.");
  }
  return pdf;
}

// The current objects of `doc`, serialised as qpdf would save them but without recompressing
// anything and without encryption, so that the extractor sees exactly what is in memory.
std::shared_ptr<Buffer> currentBytes(Document& doc) {
  QPDFWriter writer(doc.qpdf());
  writer.setOutputMemory();
  writer.setPreserveEncryption(false);
  writer.setCompressStreams(false);
  writer.setDecodeLevel(qpdf_dl_none);
  writer.setStaticID(false);
  writer.write();
  return writer.getBufferSharedPointer();
}

// Words as the extractor found them; see Word for what is dropped.
void appendUnit(std::u16string& out, unsigned int u) {
  if (u < 0x20 || u == 0x7F) return;  // controls: a CR or LF would break the line structure, a NUL the text
  if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
  if (u > 0x10FFFF) u = 0xFFFD;
  if (u < 0x10000) {
    out.push_back(static_cast<char16_t>(u));
  } else {
    u -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (u >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (u & 0x3FF)));
  }
}

std::vector<Word> extract(PDFDoc& pdf, int pageIndex) {
  if (pageIndex < 0 || pageIndex >= pdf.getNumPages()) {
    throw Error(err::kNotValidPage, "The page number is not valid.");
  }
  // Reading order with physical layout and raw order off: pdftotext's default.
  TextOutputDev dev(nullptr, nullptr, false, 0, false, false);
  if (!dev.isOk()) throw Error(err::kNoMemory, "The text extractor could not be started.");
  pdf.displayPage(&dev, pageIndex + 1, 72, 72, 0, true, false, false);
  std::unique_ptr<TextWordList> list = dev.makeWordList();
  std::vector<Word> words;
  if (!list) return words;
  const int n = list->getLength();
  words.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const TextWord* w = list->get(i);
    Word word;
    word.attributes = 0;
    const int len = w->getLength();
    word.text.reserve(static_cast<std::size_t>(len));
    for (int c = 0; c < len; ++c) appendUnit(word.text, *w->getChar(c));
    if (w->getSpaceAfter()) word.attributes |= kWordSpaceAfter;
    // The list runs line by line, each line's words linked in order: the last has no successor.
    if (w->getNext() == nullptr) word.attributes |= kWordLastOnLine;
    if (word.text.empty()) {
      // Nothing printable: keep the layout it carried on the word before it.
      if (!words.empty()) words.back().attributes |= word.attributes;
      continue;
    }
    words.push_back(std::move(word));
  }
  return words;
}

class Cache {
public:
  std::vector<Word> pageWords(const std::shared_ptr<Document>& doc, int pageIndex) {
    std::lock_guard<std::mutex> lock(mutex_);
    return extract(parsed(doc), pageIndex);
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

private:
  static constexpr std::size_t kMaxEntries = 4;

  PDFDoc& parsed(const std::shared_ptr<Document>& doc) {
    // Drop parses of documents that are gone, so that a new Document at the same address never
    // meets an old parse.
    entries_.remove_if([](const Parsed& p) { return p.owner.expired(); });
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->key != doc.get()) continue;
      if (it->generation == doc->generation()) {
        entries_.splice(entries_.begin(), entries_, it);  // most recently used first
        return *entries_.front().pdf;
      }
      entries_.erase(it);
      break;
    }
    Parsed p;
    p.key = doc.get();
    p.owner = doc;
    p.generation = doc->generation();
    // A document still in its first generation is exactly its file: read that directly. Anything
    // changed since (or never saved) is read from its current objects.
    if (!doc->path().empty() && doc->generation() == 1) {
      p.pdf = openFile(doc->path());
    } else {
      p.bytes = currentBytes(*doc);
      auto* stream = new MemStream(reinterpret_cast<const char*>(p.bytes->getBuffer()), 0,
                                   static_cast<Goffset>(p.bytes->getSize()), Object(objNull));
      p.pdf = std::make_unique<PDFDoc>(stream);  // takes the stream over
      if (!p.pdf->isOk()) throw Error(err::kUnableToRead, "The text of the document could not be read.");
    }
    entries_.push_front(std::move(p));
    while (entries_.size() > kMaxEntries) entries_.pop_back();
    return *entries_.front().pdf;
  }

  std::mutex mutex_;
  std::list<Parsed> entries_;
};

Cache& cache() {
  static Cache* c = new Cache;  // never destroyed: poppler's globals may be gone at exit
  return *c;
}

}  // namespace

std::vector<Word> pageWords(const std::shared_ptr<Document>& doc, int pageIndex) {
  if (!doc) throw Error(err::kBadParm, "No document was given.");
  initPoppler();
  return cache().pageWords(doc, pageIndex);
}

std::vector<Word> pageWordsFromFile(const std::string& path, int pageIndex) {
  initPoppler();
  auto pdf = openFile(path);
  return extract(*pdf, pageIndex);
}

void clearTextCache() { cache().clear(); }

}  // namespace quill::pdf
