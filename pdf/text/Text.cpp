// Page text over poppler's text extractor; the only file of the host that includes poppler headers.
#include "quill/pdf/Text.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "IncrementalState.h"
#include "IncrementalWriter.h"
#include "ReadingOrder.h"
#include "quill/pdf/Warnings.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <poppler/Error.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/Parser.h>
#include <poppler/Stream.h>
#include <poppler/TextOutputDev.h>
#include <poppler/goo/GooString.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

namespace quill::pdf {
namespace {

// poppler reports recoverable trouble in damaged files through this hook; the host logs, never prints.
void logPopplerError(ErrorCategory, Goffset pos, const char* msg) {
    warn(Severity::kDebug, std::string("text extractor: ") + (msg ? msg : "") + " (at " + std::to_string(pos) + ")");
}

void stopAllReadAheads();

void initPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!globalParams) globalParams = std::make_unique<GlobalParams>();
        setErrorCallback(&logPopplerError);
        // Registered after poppler's own globals were made, so it runs before they are destroyed:
        // no read-ahead thread is still extracting when they go.
        std::atexit(&stopAllReadAheads);
    });
}

// A parse and the text extractor its pages go through, used by one thread at a time. The extractor
// starts every page afresh; keeping it saves setting it up per page. It goes before the parse (it
// may still hold the last page's fonts).
struct Reader {
    std::unique_ptr<PDFDoc> pdf;
    std::unique_ptr<TextOutputDev> dev;
};

// Objects changed since a parse was made, taken over by the parse in place of their earlier
// versions: each patch is the changed objects written out as they stand in the document, read by
// poppler in place. A parse reads its patches' stream data where it lies, so they live as long as it.
using Patch = std::shared_ptr<const std::string>;
using Patches = std::shared_ptr<const std::vector<Patch>>;

// One parse of one document generation. `bytes` (when the parse reads from memory) and `patches`
// must outlive `reader`: members are destroyed in reverse order, so keep them above `reader`.
struct Parsed {
    const Document* key = nullptr;
    std::weak_ptr<Document> owner;
    std::uint64_t generation = 0;
    std::shared_ptr<Buffer> bytes;
    Patches patches;
    std::function<std::unique_ptr<PDFDoc>()> open;  // a parse of what the patches apply to
    Reader reader;
    std::unique_ptr<class ReadAhead> ahead;  // declared last: its lanes stop before the rest goes
};

std::unique_ptr<PDFDoc> openFile(const std::string& path) {
    auto pdf = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
    if (!pdf->isOk()) {
        throw Error(err::kUnableToRead, "The text of the document could not be read.");
    }
    return pdf;
}

// A parse of `bytes`, which must outlive it.
std::unique_ptr<PDFDoc> openBytes(const std::shared_ptr<Buffer>& bytes) {
    auto* stream = new MemStream(reinterpret_cast<const char*>(bytes->getBuffer()), 0,
                                 static_cast<Goffset>(bytes->getSize()), Object(objNull));
    auto pdf = std::make_unique<PDFDoc>(stream);  // takes the stream over
    if (!pdf->isOk()) throw Error(err::kUnableToRead, "The text of the document could not be read.");
    return pdf;
}

// Reads the objects of `patch` into the cross-reference table of `pdf`, in place of the versions it
// read before or as new ones. All or none: false (and `pdf` as it was) when one of them cannot be
// taken over. An object changed is taken only as a stream for a stream, a dictionary for a
// dictionary, and never a page, the page tree or the catalog (poppler keeps their parse beyond
// the table); a new one only under a number the table has free (or gives to a cross-reference
// stream).
bool applyPatch(PDFDoc& pdf, const std::string& patch) {
    XRef* xref = pdf.getXRef();
    struct Taken {
        Ref ref;
        Object object;
        bool added;  // under a number the table has no object for
    };
    std::vector<Taken> objects;
    Parser parser(xref, new MemStream(patch.data(), 0, static_cast<Goffset>(patch.size()), Object(objNull)), true);
    for (;;) {
        Object num = parser.getObj();
        if (num.isEOF()) break;
        Object gen = parser.getObj();
        Object keyword = parser.getObj();
        if (!num.isInt() || !gen.isInt() || !keyword.isCmd("obj")) return false;
        Ref ref{num.getInt(), gen.getInt()};
        Object now = parser.getObj(false, nullptr, cryptRC4, 0, ref.num, ref.gen);
        if (!parser.getObj().isCmd("endobj")) return false;
        if (ref.num <= 0 || ref.gen < 0 || !(now.isDict() || now.isStream() || now.isArray())) return false;
        const XRefEntry* entry = ref.num < xref->getNumObjects() ? xref->getEntry(ref.num, false) : nullptr;
        if (!entry || entry->type == xrefEntryFree || entry->type == xrefEntryNone) {
            objects.push_back(Taken{ref, std::move(now), true});
            continue;
        }
        const bool known = (entry->type == xrefEntryUncompressed && entry->gen == ref.gen) ||
                           (entry->type == xrefEntryCompressed && ref.gen == 0);
        if (!known || ref.num == xref->getRootNum()) return false;
        Object before = xref->fetch(ref);
        Object type = before.isDict()     ? before.dictLookup("Type")
                      : before.isStream() ? before.streamGetDict()->lookup("Type")
                                          : Object(objNull);
        // The cross-reference stream of an update in memory is no object of the document's: its
        // number is free to the document's next new object.
        const bool replaced = before.isStream() && type.isName("XRef");
        if (!replaced && (before.getType() != now.getType() || !(now.isDict() || now.isStream()))) return false;
        if (type.isName("Page") || type.isName("Pages") || type.isName("Catalog")) return false;
        objects.push_back(Taken{ref, std::move(now), false});
    }
    for (auto& [ref, object, added] : objects) {
        if (added) xref->add(ref, 0, true);
        xref->setModifiedObject(&object, ref);
    }
    return true;
}

// The current objects of `doc` for the extractor. A document read from a file is its file's bytes
// with the changes appended as an update in memory (cost: the changes, not the document). Anything
// else is serialised as qpdf would save it, without recompressing anything and without encryption.
std::shared_ptr<Buffer> currentBytes(Document& doc) {
    if (canUpdateIncrementally(doc)) {
        try {
            // The extractor reads the string in place, through a buffer that does not own it.
            struct Owned {
                std::string all;
                Buffer view;
                explicit Owned(std::string s)
                    : all(std::move(s)), view(reinterpret_cast<unsigned char*>(all.data()), all.size()) {}
            };
            auto owned = std::make_shared<Owned>(bytesWithUpdate(doc, makeIncrementalUpdate(doc, false)));
            return std::shared_ptr<Buffer>(owned, &owned->view);
        } catch (const std::exception& e) {
            doc.warn(Severity::kInfo, std::string("text extractor: changes could not be appended (") + e.what() +
                                          "); writing the whole document");
        }
    }
    QPDFWriter writer(doc.qpdf());
    writer.setOutputMemory();
    writer.setPreserveEncryption(false);
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setStaticID(false);
    try {
        writer.write();
    } catch (const std::runtime_error& e) {  // qpdf's damaged-object and I/O errors
        doc.warn(Severity::kWarning, std::string("text extractor: document could not be written out: ") + e.what());
        throw Error(err::kUnableToRead, "The text of the document could not be read.");
    }
    return writer.getBufferSharedPointer();
}

struct Aborted {};

// `abort` (may be null) is asked now and then while the page is read; when it says so, Aborted is
// thrown instead of an answer from half a page.
std::vector<Word> extract(Reader& reader, int pageIndex, bool (*abort)(void*) = nullptr, void* abortData = nullptr) {
    if (pageIndex < 0 || pageIndex >= reader.pdf->getNumPages()) {
        throw Error(err::kNotValidPage, "The page number is not valid.");
    }
    if (!reader.dev) {
        // Reading order with physical layout and raw order off: pdftotext's default.
        auto dev = std::make_unique<TextOutputDev>(nullptr, nullptr, false, 0, false, false);
        if (!dev->isOk()) throw Error(err::kNoMemory, "The text extractor could not be started.");
        reader.dev = std::move(dev);
    }
    TextOutputDev& dev = *reader.dev;
    // An extractor left in the middle of a page (abandoned, or poppler threw) is not used again.
    struct Drop {
        Reader& r;
        bool done = false;
        ~Drop() {
            if (!done) r.dev.reset();
        }
    } drop{reader};
    reader.pdf->displayPage(&dev, pageIndex + 1, 72, 72, 0, true, false, false, abort, abortData);
    if (abort && abort(abortData)) throw Aborted{};
    std::unique_ptr<TextWordList> list = dev.makeWordList();
    drop.done = true;
    std::vector<Word> words;
    if (!list) return words;
    const int n = list->getLength();
    words.reserve(static_cast<std::size_t>(n));
    std::vector<RawWord> line;
    for (int i = 0; i < n; ++i) {
        const TextWord* w = list->get(i);
        RawWord raw;
        const int len = w->getLength();
        raw.chars.reserve(static_cast<std::size_t>(len));
        for (int c = 0; c < len; ++c) raw.chars.push_back(*w->getChar(c));
        raw.spaceAfter = w->getSpaceAfter();
        line.push_back(std::move(raw));
        // The list runs line by line, each line's words linked in order: the last has no successor.
        if (w->getNext() == nullptr) emitLine(line, words);
    }
    if (!line.empty()) emitLine(line, words);
    return words;
}

// Pages read ahead of a reader on worker threads. poppler's objects are not shared between threads:
// each lane opens a parse of its own over the same bytes (or file) and only its own thread touches
// it. The window follows the reader: after page p read forwards it is p+1..p+kAhead, backwards
// p-1..p-kAhead; a reader that jumps gets no window until it reads on from where it landed, so it
// pays for nothing it does not ask for. Finished pages outside the window are dropped; memory is
// the window's words. A lane's thread ends a quarter of a second after its window ran out (so also
// after its document is gone, whose page in hand it abandons at once); the destructor (and, at
// exit, stopAllReadAheads) stops and joins whatever still runs.
class ReadAhead {
public:
    using Opener = std::function<std::unique_ptr<PDFDoc>()>;

    // With `held`, no lane starts before a second page is asked for: a parse made for a changed
    // document is often read at one page only (the page just edited) and then changed again, and
    // pages read ahead of it would be thrown away while they take the processor from the reader.
    ReadAhead(Opener open, std::weak_ptr<Document> owner, int pages, int lanes, bool held)
        : open_(std::move(open)),
          owner_(std::move(owner)),
          pages_(pages),
          lanes_(static_cast<std::size_t>(lanes)),
          held_(held) {
        std::lock_guard lock(registryMutex());
        registry().insert(this);
    }
    ~ReadAhead() {
        stop();
        std::lock_guard lock(registryMutex());
        registry().erase(this);
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Records `page` as asked for and moves the window after it. Returns its words when a lane has
    // them or is extracting them (waiting for it), nothing when the caller is to extract it itself.
    std::optional<std::vector<Word>> take(int page) {
        std::unique_lock lock(mutex_);
        if (last_ < 0 || page == last_ + 1)
            direction_ = 1;
        else if (page == last_ - 1)
            direction_ = -1;
        else if (page != last_)
            direction_ = 0;
        if (last_ >= 0 && page != last_) held_ = false;
        last_ = page;
        for (auto it = slots_.begin(); it != slots_.end();)
            it = it->first == page || inWindow(it->first) ? std::next(it) : slots_.erase(it);
        std::optional<std::vector<Word>> words;
        auto found = slots_.find(page);
        if (found != slots_.end()) {
            cv_.wait(lock, [&] { return found->second.state != Slot::kRunning; });
            if (found->second.state == Slot::kDone) words = std::move(found->second.words);
            slots_.erase(found);
        }
        startLanes(lock);
        return words;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_.store(true);
        }
        work_.notify_all();
        for (auto& lane : lanes_)
            if (lane.thread.joinable()) lane.thread.join();
    }

    // Stops every read-ahead of the process: at exit, before poppler's globals go.
    static void stopAll() {
        std::lock_guard lock(registryMutex());
        for (ReadAhead* r : registry()) r->stop();
    }

private:
    static constexpr int kAhead = 6;
    static constexpr std::chrono::milliseconds kIdle{250};  // a lane with nothing to do ends after this

    struct Slot {
        enum State { kRunning, kDone, kFailed } state = kRunning;
        std::vector<Word> words;
    };
    struct Lane {
        std::thread thread;
        bool busy = false;
        Reader reader;  // touched only by the lane's thread, or after it was joined
    };

    static std::mutex& registryMutex() {
        static auto* m = new std::mutex;
        return *m;
    }
    static std::unordered_set<ReadAhead*>& registry() {
        static auto* r = new std::unordered_set<ReadAhead*>;
        return *r;
    }

    // A lane's page is abandoned mid-way when the read-ahead stops (a slow page must not hold up a
    // change of the document or the exit) or its document is gone.
    static bool abandoned(void* self) {
        auto* r = static_cast<ReadAhead*>(self);
        return r->stopping_.load(std::memory_order_relaxed) || r->owner_.expired();
    }

    bool inWindow(int page) const {
        if (direction_ == 0) return false;
        const int step = (page - last_) * direction_;
        return step >= 1 && step <= kAhead;
    }

    // The nearest page of the window no lane has taken; -1 when there is none. Caller holds mutex_.
    int nextPage() const {
        for (int k = 1; direction_ != 0 && k <= kAhead; ++k) {
            const int page = last_ + k * direction_;
            if (page < 0 || page >= pages_) break;
            if (!slots_.count(page)) return page;
        }
        return -1;
    }

    void startLanes(std::unique_lock<std::mutex>& lock) {
        if (stopping_ || held_) return;
        int wanted = 0;
        for (int k = 1; direction_ != 0 && k <= kAhead; ++k) {
            const int page = last_ + k * direction_;
            if (page < 0 || page >= pages_) break;
            wanted += !slots_.count(page);
        }
        for (auto& lane : lanes_) {
            if (wanted <= 0) break;
            if (lane.busy) continue;
            --wanted;
            lane.busy = true;
            if (lane.thread.joinable()) {
                // The lane's last thread has said it is done; it only has to return.
                lock.unlock();
                lane.thread.join();
                lock.lock();
            }
            lane.thread = std::thread([this, &lane] { run(lane); });
        }
        work_.notify_all();  // lanes waiting for work
    }

    void run(Lane& lane) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stopping_ || owner_.expired()) break;
            const int page = nextPage();
            if (page < 0) {
                // Wait a little for the reader's next page rather than end and be started again
                // for every page (a new thread also starts with an empty allocation cache).
                if (!work_.wait_for(lock, kIdle, [&] { return stopping_ || nextPage() >= 0; })) break;
                continue;
            }
            slots_[page];  // taken
            lock.unlock();
            Slot done;
            try {
                if (!lane.reader.pdf) lane.reader.pdf = open_();
                done.words = extract(lane.reader, page, &ReadAhead::abandoned, this);
                done.state = Slot::kDone;
            } catch (...) {  // the reader extracts the page itself and meets the error there
                done.state = Slot::kFailed;
            }
            lock.lock();
            auto slot = slots_.find(page);
            if (slot != slots_.end() && slot->second.state == Slot::kRunning) slot->second = std::move(done);
            cv_.notify_all();
        }
        lane.busy = false;
        // A closed document's parse goes with the thread; nothing of it is kept.
        if (owner_.expired()) {
            lock.unlock();
            lane.reader = Reader{};
        }
    }

    const Opener open_;
    const std::weak_ptr<Document> owner_;
    const int pages_;
    std::mutex mutex_;
    std::condition_variable cv_;    // a lane finished a page
    std::condition_variable work_;  // the window moved, or the read-ahead stops
    std::map<int, Slot> slots_;
    std::vector<Lane> lanes_;
    int last_ = -1;
    int direction_ = 0;
    bool held_;
    std::atomic<bool> stopping_{false};
};

// Parses that are no longer wanted (an older generation of a changed document, a closed document's)
// are taken apart on a thread of their own: freeing a parse (its fonts, its form's fields, its
// read-ahead) is work the reader of the next generation need not wait for. One thread at a time,
// started when there is something to free and ending when there is nothing left.
class Disposal {
public:
    void add(std::list<Parsed>& from, std::list<Parsed>::iterator it) {
        std::unique_lock lock(mutex_);
        queue_.splice(queue_.end(), from, it);
        start(lock);
    }
    // Waits until everything handed over is freed (at exit, before poppler's globals go).
    void drain() {
        std::thread done;
        {
            std::lock_guard lock(mutex_);
            done = std::move(thread_);
        }
        if (done.joinable()) done.join();
    }

private:
    void start(std::unique_lock<std::mutex>& lock) {
        if (running_) return;
        std::thread finished = std::move(thread_);
        running_ = true;
        thread_ = std::thread([this] { run(); });
        // The last thread has said it is done; it only has to return.
        lock.unlock();
        if (finished.joinable()) finished.join();
    }
    void run() {
        std::unique_lock lock(mutex_);
        while (!queue_.empty()) {
            std::list<Parsed> one;
            one.splice(one.end(), queue_, queue_.begin());
            lock.unlock();
            one.clear();
            lock.lock();
        }
        running_ = false;
    }

    std::mutex mutex_;
    std::list<Parsed> queue_;
    std::thread thread_;
    bool running_ = false;
};

Disposal& disposal() {
    static auto* d = new Disposal;  // never destroyed: drained at exit instead
    return *d;
}

void stopAllReadAheads() {
    // The disposal thread stops the read-aheads it frees; the rest are stopped here after it.
    disposal().drain();
    ReadAhead::stopAll();
}

std::atomic<std::uint64_t>& parsesMade() {
    static std::atomic<std::uint64_t> made{0};
    return made;
}

std::atomic<int>& readAheadLanes() {
    static std::atomic<int> lanes{std::thread::hardware_concurrency() >= 2 ? 2 : 0};
    return lanes;
}

class Cache {
public:
    std::vector<Word> pageWords(const std::shared_ptr<Document>& doc, int pageIndex) {
        std::lock_guard<std::mutex> lock(mutex_);
        Parsed& p = parsed(doc);
        if (p.ahead && pageIndex >= 0 && pageIndex < p.reader.pdf->getNumPages()) {
            if (auto words = p.ahead->take(pageIndex)) return std::move(*words);
        }
        return extract(p.reader, pageIndex);
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

private:
    static constexpr std::size_t kMaxEntries = 4;
    static constexpr std::size_t kMaxPatches = 256;
    static constexpr std::size_t kMaxPatchBytes = 16u << 20;

    Parsed& parsed(const std::shared_ptr<Document>& doc) {
        // Drop parses of documents that are gone, so that a new Document at the same address never
        // meets an old parse.
        for (auto it = entries_.begin(); it != entries_.end();) {
            auto next = std::next(it);
            if (it->owner.expired()) disposal().add(entries_, it);
            it = next;
        }
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->key != doc.get()) continue;
            if (it->generation == doc->generation() || takeChanges(*it, *doc)) {
                entries_.splice(entries_.begin(), entries_, it);  // most recently used first
                return entries_.front();
            }
            disposal().add(entries_, it);
            break;
        }
        Parsed p;
        p.key = doc.get();
        p.owner = doc;
        p.generation = doc->generation();
        // A document still in its first generation is exactly its file: read that directly. Anything
        // changed since (or never saved) is read from its current objects.
        if (!doc->path().empty() && doc->generation() == 1) {
            p.open = [path = doc->path()] { return openFile(path); };
        } else {
            p.bytes = currentBytes(*doc);
            p.open = [bytes = p.bytes] { return openBytes(bytes); };
        }
        p.reader.pdf = p.open();
        parsesMade().fetch_add(1, std::memory_order_relaxed);
        p.patches = std::make_shared<const std::vector<Patch>>();
        readAhead(p, doc);
        entries_.push_front(std::move(p));
        while (entries_.size() > kMaxEntries) disposal().add(entries_, std::prev(entries_.end()));
        return entries_.front();
    }

    // Pages read ahead on other threads, from parses of their own: of the same bytes, with the same
    // patches. A changed document is read ahead once a second page of it is asked for.
    static void readAhead(Parsed& p, const std::shared_ptr<Document>& doc) {
        const int lanes = readAheadLanes().load();
        if (lanes <= 0) return;
        ReadAhead::Opener opener = [open = p.open, patches = p.patches] {
            auto pdf = open();
            for (const Patch& patch : *patches)
                if (!applyPatch(*pdf, *patch))
                    throw Error(err::kUnableToRead, "The text of the document could not be read.");
            return pdf;
        };
        p.ahead = std::make_unique<ReadAhead>(std::move(opener), doc, p.reader.pdf->getNumPages(), lanes,
                                              doc->generation() > 1);
    }

    // Brings the parse `p` of an earlier generation of `doc` up to date with the objects changed since,
    // when every change since is known and of objects the parse can take over in place (a field's
    // value and its widgets' appearances drawn again). An edit then costs its own objects, not a
    // new write and parse of every object read. False when the document must be read again.
    bool takeChanges(Parsed& p, Document& doc) {
        if (!p.reader.pdf || !p.patches) return false;
        auto changed = doc.changedSince(p.generation);
        if (!changed) return false;
        std::string bytes;
        try {
            QPDF& q = doc.qpdf();
            // poppler draws the widgets of a form that asks viewers to draw them from its own copy of the
            // values, read with the parse.
            if (q.isEncrypted()) return false;
            auto form = q.getRoot().getKey("/AcroForm");
            auto asks = form.isDictionary() ? form.getKey("/NeedAppearances") : QPDFObjectHandle::newNull();
            if (asks.isBool() && asks.getBoolValue()) return false;
            const Crypt none;
            for (const ObjectId& id : *changed) {
                QPDFObjectHandle now = q.getObject(id.number, id.gen);
                if (now.isNull()) return false;
                putObject(bytes, QPDFObjGen(id.number, id.gen), now, none);
            }
        } catch (const std::exception&) {
            return false;
        }
        // Patches are kept as long as the parse, and every read-ahead lane applies them all: past a
        // bound a new parse is cheaper (a value in a new font rewrites the font each time).
        std::size_t kept = bytes.size();
        for (const Patch& earlier : *p.patches) kept += earlier->size();
        if (p.patches->size() >= kMaxPatches || kept > kMaxPatchBytes) return false;
        auto patch = std::make_shared<const std::string>(std::move(bytes));
        if (!applyPatch(*p.reader.pdf, *patch)) return false;
        auto patches = std::make_shared<std::vector<Patch>>(*p.patches);
        patches->push_back(std::move(patch));
        p.patches = std::move(patches);
        p.generation = doc.generation();
        // The read-ahead's parses are of the earlier generation.
        if (p.ahead) {
            std::list<Parsed> old(1);
            old.front().ahead = std::move(p.ahead);
            disposal().add(old, old.begin());
            if (auto owner = p.owner.lock()) readAhead(p, owner);
        }
        return true;
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
    flushAppearances(*doc);  // the page's text includes what its fields show
    initPoppler();
    return cache().pageWords(doc, pageIndex);
}

std::vector<Word> pageWordsFromFile(const std::string& path, int pageIndex) {
    initPoppler();
    Reader reader{openFile(path), nullptr};
    return extract(reader, pageIndex);
}

void clearTextCache() {
    cache().clear();
}

std::uint64_t textParsesMade() {
    return parsesMade().load(std::memory_order_relaxed);
}

void setTextReadAheadLanes(int lanes) {
    readAheadLanes().store(std::max(0, lanes));
}

}  // namespace quill::pdf
