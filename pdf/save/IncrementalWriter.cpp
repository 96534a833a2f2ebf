// The incremental writer: the bytes of one update (the changed objects and the cross-reference
// section after them), and what a saved update leaves behind for the next one.
#include "IncrementalWriter.h"
#include "RawPages.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "IncrementalState.h"
#include "SaveCheck.h"

#include <algorithm>

namespace quill::pdf {

IncrementalUpdate makeIncrementalUpdate(Document& doc, bool compare) {
    if (doc.wasRepaired()) cannotUpdate("its file needed repair to be read");
    settleRawPages(doc);  // an update is written from qpdf's objects
    IncrementalState& st = stateOf(doc);
    prepare(doc, st);
    QPDF& q = doc.qpdf();
    const std::vector<QPDFObjGen> candidates = changeCandidates(st, q);
    // (From the file's last number on: qpdf does not know the numbers of the cross-reference
    // streams earlier updates wrote and may give one of them to a new object.)
    const int lastKnown = std::max(st.maxId, st.committedMaxId);

    Crypt crypt = cryptOf(q);
    // An encrypted file's own encryption dictionary must never be written encrypted: there only
    // the changes are written.
    if (crypt.on) compare = true;
    std::string_view original = originalBytes(st);
    const std::uint64_t base = currentSize(st);
    char lastByte = st.updates.empty() ? (original.empty() ? '\n' : original.back()) : st.updates.back().back();

    IncrementalUpdate update;
    auto written = std::make_shared<UpdateRecord>();
    std::string out;
    if (lastByte != '\n' && lastByte != '\r') out += '\n';
    std::map<int, XrefEntry> entries;
    for (QPDFObjGen og : candidates) {
        QPDFObjectHandle now = q.getObject(og);
        if (!compare && st.xref.count(og) && !st.committed.count(og)) {
            const std::size_t mark = out.size();
            try {
                if (now.isNull()) {
                    entries[og.getObj()] = XrefEntry{true, 0, og.getGen()};
                } else {
                    entries[og.getObj()] = XrefEntry{false, base + out.size(), og.getGen()};
                    putObject(out, og, now, crypt);
                }
                written->maxId = std::max(written->maxId, og.getObj());
            } catch (const std::exception&) {
                // Unreadable here is unreadable in the file too (see fingerprint): left as it is.
                if (fingerprint(now) != "E") throw;
                out.resize(mark);
                entries.erase(og.getObj());
            }
            continue;
        }
        std::string fp = fingerprint(now);
        if (unchanged(st, og, fp)) continue;
        if (now.isNull()) {
            entries[og.getObj()] = XrefEntry{true, 0, og.getGen()};
            written->fingerprints[og] = "";
        } else {
            entries[og.getObj()] = XrefEntry{false, base + out.size(), og.getGen()};
            putObject(out, og, now, crypt);
            written->fingerprints[og] = fp;
        }
        written->maxId = std::max(written->maxId, og.getObj());
    }
    update.objects = entries.size();
    if (entries.empty()) return update;

    TrailerFacts facts;
    facts.trailer = q.getTrailer();
    facts.prev = st.lastXref;
    const long long size = std::max<long long>({st.trailerSize, written->maxId + 1LL, lastKnown + 1LL});
    // A stream section (also the one a hybrid file carries) takes the next number for itself.
    const bool ownNumber = st.xrefStream || st.hybrid;
    if (size + (ownNumber ? 1 : 0) > kMaxObjectNumber + 1)
        cannotUpdate("its objects would be numbered past the limit of " + std::to_string(kMaxObjectNumber) +
                     " (its /Size is " + std::to_string(st.trailerSize) + ")");
    // The second identifier changes with every revision; the first stays (it keys the encryption).
    QPDFObjectHandle id = facts.trailer.getKey("/ID");
    facts.id0 = id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString()
                    ? id.getArrayItem(0).getStringValue()
                    : "";
    facts.id1 = md5(std::to_string(base) + out);
    if (facts.id0.empty()) facts.id0 = facts.id1;

    XrefWritten xref = appendXrefSection(out, base, entries, size, st.xrefStream, st.hybrid, facts);
    written->maxId = std::max(written->maxId, xref.selfId);
    update.size = xref.size;
    update.bytes = std::move(out);
    update.xrefOffset = static_cast<std::int64_t>(xref.offset);
    update.written = written;
    return update;
}

void writeBaseBytes(Document& doc, const std::function<void(const char*, std::size_t)>& sink) {
    IncrementalState& st = stateOf(doc);
    std::string_view original = originalBytes(st);
    sink(original.data(), original.size());
    for (auto& u : st.updates) sink(u.data(), u.size());
}

std::int64_t currentXref(Document& doc) {
    IncrementalState& st = stateOf(doc);
    prepare(doc, st);
    return st.lastXref;
}

void commitIncrementalUpdate(Document& doc, const IncrementalUpdate& update) {
    IncrementalState& st = stateOf(doc);
    if (update.bytes.empty() || !update.written) return;
    for (auto& [og, fp] : update.written->fingerprints) st.committed[og] = fp;
    st.committedMaxId = std::max(st.committedMaxId, update.written->maxId);
    st.trailerSize = std::max(st.trailerSize, update.size);
    st.lastXref = update.xrefOffset;
    st.updates.push_back(update.bytes);
}

std::string bytesWithUpdate(Document& doc, const IncrementalUpdate& update) {
    std::string all;
    writeBaseBytes(doc, [&](const char* p, std::size_t n) {
        if (all.empty()) all.reserve(n + update.bytes.size() + 64);
        all.append(p, n);
    });
    all += update.bytes;
    return all;
}

}  // namespace quill::pdf
