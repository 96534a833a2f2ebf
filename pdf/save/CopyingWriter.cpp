// Full saves that copy the objects nobody read as they stand in the file (see CopyingWriter.h).
#include "CopyingWriter.h"

#include "quill/pdf/Document.h"
#include "DocumentImpl.h"
#include "IncrementalState.h"
#include "RawObject.h"
#include "RawPages.h"
#include "SaveCheck.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <unordered_set>

namespace quill::pdf {

namespace {

// What the trailer of the new file keeps of the document's: everything but the entries that
// describe the old file's cross-reference data and encryption.
bool trailerKeeps(const std::string& key) {
    static const std::unordered_set<std::string> dropped = {
        "/Size",   "/Prev",        "/XRefStm", "/ID", "/Encrypt", "/Type",    "/W",           "/Index",
        "/Filter", "/DecodeParms", "/Length",  "/DL", "/F",       "/FFilter", "/FDecodeParms"};
    return dropped.count(key) == 0;
}

}  // namespace

bool canWriteByCopying(Document& doc) {
    auto& state = DocumentAccess::impl(doc).incremental;
    return state && state->bytes && !doc.wasRepaired() && state->updates.empty() && state->committed.empty() &&
           !doc.qpdfForWriting().isEncrypted();
}

namespace {

// Writes the new file to `sink`; false, having written nothing, when it cannot start. Throws
// CopyingStopped when it meets, part way, what it is not sure of.
bool write(Document& doc, const std::function<void(const char*, std::size_t)>& sink,
           std::vector<QPDFObjGen>& fromDocument) {
    IncrementalState& st = stateOf(doc);
    QPDF& q = doc.qpdfForWriting();
    const std::string_view file(st.bytes, st.size);
    const std::map<QPDFObjGen, QPDFXRefEntry> xref = q.getXRefTable();
    ReadLog& reads = *st.reads;

    // The file's objects by number, and whether qpdf read each (one it read may have changed).
    int maxId = 0;
    for (const auto& [og, e] : xref) maxId = std::max(maxId, og.getObj());
    // A table of numbers far sparser than its objects is not worth a vector by number.
    if (maxId > (1 << 20) && static_cast<std::size_t>(maxId) > 4 * xref.size()) return false;
    struct Known {
        int gen = -1;  // -1: not in the file
        bool raw = false;
        qpdf_offset_t offset = 0;
    };
    std::vector<Known> known(static_cast<std::size_t>(maxId) + 1);
    bool everyRead = true;
    for (const auto& [og, e] : xref) {
        Known& k = known[static_cast<std::size_t>(og.getObj())];
        if (e.getType() == 1) {
            k = Known{og.getGen(), !reads.contains(e.getOffset()), e.getOffset()};
            everyRead = everyRead && !k.raw;
        } else if (e.getType() == 2) {
            k = Known{og.getGen(), false, 0};
            auto s = xref.find(QPDFObjGen(e.getObjStreamNumber(), 0));
            if (s != xref.end() && s->second.getType() == 1)
                everyRead = everyRead && reads.contains(s->second.getOffset());
        }
    }
    // qpdf numbers a new object past every object it holds, and reads every object of the file
    // before it does: new objects exist only when every object was read.
    const int lastNew = everyRead ? static_cast<int>(q.getObjectCount()) : maxId;
    // Pages inserted from another file's bytes take the numbers past all of these.
    const RawPages* inserted = DocumentAccess::impl(doc).rawPages.get();
    const int firstInserted = std::max(lastNew, maxId) + 1;
    if (inserted && static_cast<long long>(firstInserted) + static_cast<long long>(inserted->copies.size()) >
                        kMaxObjectNumber + 1LL)
        return false;

    std::uint64_t size = 0;
    std::string own;  // what this writer puts together, written out object by object
    auto emitOwn = [&]() {
        sink(own.data(), own.size());
        size += own.size();
        own.clear();
    };

    const std::string version = q.getPDFVersion();
    own = "%PDF-" + (version.empty() ? std::string("1.7") : version) + "\n%\xbf\xf7\xa2\xfe\n";
    emitOwn();

    std::vector<QPDFObjGen> pending, refs;
    std::string trailerEntries;
    QPDFObjectHandle trailer = q.getTrailer();
    for (auto& [key, value] : trailer.getDictAsMap()) {
        if (!trailerKeeps(key) || value.isDirectNull()) continue;
        trailerEntries += QPDFObjectHandle::newName(key).unparse() + " ";
        put(trailerEntries, value, nullptr, QPDFObjGen(), false, &pending);
        trailerEntries += " ";
    }
    if (!trailer.getKey("/Root").isIndirect()) cannotUpdate("its catalog is not an indirect object");

    std::map<int, XrefEntry> entries;
    std::vector<char> seen(known.size());
    std::unordered_set<int> seenNew;
    const Crypt plain;
    auto lengthOf = [&](QPDFObjGen og) -> long long {
        QPDFObjectHandle l = q.getObject(og);
        return l.isInteger() ? l.getIntValue() : -1;
    };
    std::size_t copied = 0;
    RawObject raw(file, refs);
    // Object `og` copied from the file's bytes [at, end), with the objects found in it so far.
    auto copy = [&](int n, QPDFObjGen og, std::size_t at, std::size_t end) {
        entries[n] = XrefEntry{false, size, og.getGen()};
        sink(file.data() + at, end - at);
        size += end - at;
        own += '\n';
        emitOwn();
        pending.insert(pending.end(), refs.begin(), refs.end());
        ++copied;
    };
    // Where the object at `at` ends as the file stands: the last "endobj" before the next object.
    std::vector<std::size_t> starts;
    for (const Known& k : known)
        if (k.offset > 0) starts.push_back(static_cast<std::size_t>(k.offset));
    std::sort(starts.begin(), starts.end());
    auto asItStands = [&](std::size_t at, QPDFObjGen og) -> std::size_t {
        const std::string head = std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj";
        if (file.substr(at, head.size()) != head) return 0;
        auto next = std::upper_bound(starts.begin(), starts.end(), at);
        const std::size_t limit = next == starts.end() ? file.size() : *next;
        const std::size_t found = file.substr(at, limit - at).rfind("endobj");
        return found == std::string_view::npos || found < head.size() ? 0 : at + found + 6;
    };
    while (!pending.empty()) {
        const QPDFObjGen og = pending.back();
        pending.pop_back();
        const int n = og.getObj();
        if (n <= 0) continue;
        const bool inFile = n <= maxId && known[static_cast<std::size_t>(n)].gen == og.getGen();
        if (inFile) {
            if (seen[static_cast<std::size_t>(n)]) continue;
            seen[static_cast<std::size_t>(n)] = 1;
        } else {
            // A reference to a number the file never had is a reference to null, unless qpdf made it.
            if (n <= maxId || n > lastNew || og.getGen() != 0 || !seenNew.insert(n).second) continue;
        }
        const Known k = inFile ? known[static_cast<std::size_t>(n)] : Known{};
        if (inserted && og == inserted->root) {
            // The page tree's root with the inserted pages among its kids.
            QPDFObjectHandle root = q.getObject(og);
            QPDFObjectHandle kids = root.getKey("/Kids");
            if (!root.isDictionary() || !kids.isArray()) throw CopyingStopped();
            QPDFObjectHandle rest = root.shallowCopy();
            rest.removeKey("/Kids");
            rest.removeKey("/Count");
            entries[n] = XrefEntry{false, size, og.getGen()};
            own += std::to_string(n) + " " + std::to_string(og.getGen()) + " obj\n";
            put(own, rest, &plain, og, true, &pending);
            own.resize(own.size() - 2);  // its ">>"
            own += "/Kids [";
            const std::vector<QPDFObjectHandle> list = kids.getArrayAsVector();
            for (std::size_t i = 0; i <= list.size(); ++i) {
                if (static_cast<int>(i) == inserted->after + 1) {
                    for (int j = 0; j < inserted->count; ++j) own += std::to_string(firstInserted + j) + " 0 R ";
                }
                if (i == list.size()) break;
                put(own, list[i], &plain, og, false, &pending);
                own += ' ';
            }
            own +=
                "] /Count " + std::to_string(list.size() + static_cast<std::size_t>(inserted->count)) + ">>\nendobj\n";
            emitOwn();
            fromDocument.push_back(og);
            continue;
        }
        if (k.raw && k.offset >= 0 && static_cast<std::size_t>(k.offset) < file.size()) {
            refs.clear();
            const std::size_t end = raw.scan(static_cast<std::size_t>(k.offset), og, lengthOf);
            if (end != 0) {
                copy(n, og, static_cast<std::size_t>(k.offset), end);
                continue;
            }
        }
        QPDFObjectHandle object = q.getObject(og);
        if (object.isNull()) {
            // Null where the file holds an object qpdf could not read (a stream whose length is
            // wrong): the file's bytes are kept as they stand, for readers that mend such
            // objects. The engine empties no object of the file itself; a well-formed one that
            // reads as null is absent.
            if (k.offset <= 0 || static_cast<std::size_t>(k.offset) >= file.size()) continue;
            const auto at = static_cast<std::size_t>(k.offset);
            refs.clear();  // refilled with what the object refers to, as far as it can be read
            if (raw.scan(at, og, lengthOf) != 0) continue;
            const std::size_t end = asItStands(at, og);
            if (end == 0) throw CopyingStopped();
            copy(n, og, at, end);
            continue;
        }
        entries[n] = XrefEntry{false, size, og.getGen()};
        putObject(own, og, object, plain, &pending);
        emitOwn();
        fromDocument.push_back(og);
    }

    if (inserted) {
        writeRawPages(
            *inserted, firstInserted, own, emitOwn,
            [&](const char* p, std::size_t len) {
                sink(p, len);
                size += len;
            },
            [&](int number) {
                entries[number] = XrefEntry{false, size + own.size(), 0};
                fromDocument.push_back(QPDFObjGen(number, 0));
            });
    }

    // One table: object 0, then each run of numbers written.
    const std::uint64_t xrefAt = size;
    own += "xref\n0 1\n0000000000 65535 f\r\n";
    int last = 0;
    for (auto it = entries.begin(); it != entries.end();) {
        auto runEnd = it;
        int count = 0;
        while (runEnd != entries.end() && runEnd->first == it->first + count) {
            ++runEnd;
            ++count;
        }
        own += std::to_string(it->first) + " " + std::to_string(count) + "\n";
        for (; it != runEnd; ++it) {
            char line[40];
            std::snprintf(line, sizeof line, "%010llu %05d n\r\n", static_cast<unsigned long long>(it->second.offset),
                          it->second.gen);
            own += line;
            last = it->first;
        }
    }
    QPDFObjectHandle id = trailer.getKey("/ID");
    std::string id0 = id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString()
                          ? id.getArrayItem(0).getStringValue()
                          : "";
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    const std::string id1 = md5(std::to_string(now) + " " + std::to_string(size) + " " + std::to_string(copied));
    if (id0.empty()) id0 = id1;
    own += "trailer\n<</Size " + std::to_string(last + 1) + " " + trailerEntries + "/ID [" + hex(id0) + " " + hex(id1) +
           "]>>\nstartxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
    emitOwn();
    return true;
}

}  // namespace

bool writeByCopying(Document& doc, const std::function<void(const char*, std::size_t)>& sink,
                    std::vector<QPDFObjGen>& fromDocument) {
    bool wrote = false, sinkFailed = false;
    auto guarded = [&](const char* p, std::size_t n) {
        wrote = true;
        try {
            sink(p, n);
        } catch (...) {
            sinkFailed = true;
            throw;
        }
    };
    std::vector<QPDFObjGen> written;
    try {
        if (!write(doc, guarded, written)) return false;
    } catch (...) {
        if (sinkFailed) throw;  // the file could not be written: no other writer would do better
        if (!wrote) return false;
        throw CopyingStopped();
    }
    fromDocument = std::move(written);
    return true;
}

const char* CopyingStopped::what() const noexcept {
    return "the copying writer stopped";
}

}  // namespace quill::pdf
