// The cross-reference section and trailer that end an incremental update: a table or a stream,
// as the file ends with, or both for a hybrid file.
#include "IncrementalState.h"

#include <algorithm>
#include <cstdio>

namespace quill::pdf {

namespace {

// Consecutive runs of object numbers, as the /Index of a stream or the subsections of a table.
std::vector<std::pair<int, int>> runs(const std::vector<int>& ids) {
    std::vector<std::pair<int, int>> out;
    for (int id : ids) {
        if (!out.empty() && out.back().first + out.back().second == id)
            ++out.back().second;
        else
            out.push_back({id, 1});
    }
    return out;
}

void trailerEntries(std::string& t, const TrailerFacts& f, bool withPrev) {
    QPDFObjectHandle trailer = f.trailer;  // a handle: getKey is not const
    QPDFObjectHandle root = trailer.getKey("/Root");
    if (!root.isIndirect()) cannotUpdate("its catalog is not an indirect object");
    t += "/Root " + ref(root.getObjGen());
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (info.isIndirect()) {
        t += " /Info " + ref(info.getObjGen());
    } else if (info.isDictionary()) {
        t += " /Info ";
        put(t, info, nullptr, QPDFObjGen());
    }
    QPDFObjectHandle enc = trailer.getKey("/Encrypt");
    if (enc.isIndirect()) {
        t += " /Encrypt " + ref(enc.getObjGen());
    } else if (enc.isDictionary()) {
        t += " /Encrypt ";
        put(t, enc, nullptr, QPDFObjGen());
    }
    t += " /ID [" + hex(f.id0) + " " + hex(f.id1) + "]";
    if (withPrev) t += " /Prev " + std::to_string(f.prev);
}

// A cross-reference stream object listing `entries` (which must list the stream itself).
// (The table's trailer carries /Prev for a hybrid file's stream.)
std::string streamSection(const std::map<int, XrefEntry>& entries, const TrailerFacts& f, int self, std::uint64_t at,
                          long long streamSize, bool withPrev) {
    int width = 1;
    while (width < 8 && (at >> (8 * width)) != 0) ++width;
    std::string data;
    std::vector<int> ids;
    for (auto& [n, e] : entries) {
        ids.push_back(n);
        std::uint64_t field2 = e.freed ? 0 : e.offset;
        int field3 = e.freed ? std::min(e.gen + 1, 65535) : e.gen;
        data += static_cast<char>(e.freed ? 0 : 1);
        for (int b = width - 1; b >= 0; --b) data += static_cast<char>((field2 >> (8 * b)) & 0xFF);
        data += static_cast<char>((field3 >> 8) & 0xFF);
        data += static_cast<char>(field3 & 0xFF);
    }
    std::string index;
    for (auto [first, count] : runs(ids)) index += std::to_string(first) + " " + std::to_string(count) + " ";
    std::string o = std::to_string(self) + " 0 obj\n<</Type /XRef /Size " + std::to_string(streamSize) + " /W [1 " +
                    std::to_string(width) + " 2] /Index [" + index + "] /Length " + std::to_string(data.size()) + " ";
    trailerEntries(o, f, withPrev);
    return o + ">>\nstream\n" + data + "\nendstream\nendobj\n";
}

}  // namespace

XrefWritten appendXrefSection(std::string& out, std::uint64_t base, std::map<int, XrefEntry>& entries, long long size,
                              bool xrefStream, bool hybrid, const TrailerFacts& facts) {
    XrefWritten w;
    std::uint64_t xrefOffset = base + out.size();
    if (!xrefStream) {
        // A hybrid file keeps its form: a stream section for readers that take it, and the table,
        // listing every object of the update, for readers that take only the table.
        std::string hybridTail;
        if (hybrid) {
            const int self = static_cast<int>(size);
            entries[self] = XrefEntry{false, xrefOffset, 0};
            out += streamSection(entries, facts, self, xrefOffset, size + 1, false);
            hybridTail = " /XRefStm " + std::to_string(xrefOffset);
            xrefOffset = base + out.size();
            w.selfId = self;
        }
        w.size = hybrid ? size + 1 : size;
        std::vector<int> ids;
        for (auto& [n, e] : entries) ids.push_back(n);
        out += "xref\n";
        for (auto [first, count] : runs(ids)) {
            out += std::to_string(first) + " " + std::to_string(count) + "\n";
            for (int n = first; n < first + count; ++n) {
                const XrefEntry& e = entries[n];
                char line[40];
                if (e.freed)
                    std::snprintf(line, sizeof line, "%010d %05d f\r\n", 0, std::min(e.gen + 1, 65535));
                else
                    std::snprintf(line, sizeof line, "%010llu %05d n\r\n", static_cast<unsigned long long>(e.offset),
                                  e.gen);
                out += line;
            }
        }
        out += "trailer\n<</Size " + std::to_string(w.size) + " ";
        trailerEntries(out, facts, true);
        out += hybridTail + ">>\n";
    } else {
        // The stream takes the next free number and lists itself.
        const int self = static_cast<int>(size);
        entries[self] = XrefEntry{false, xrefOffset, 0};
        w.size = size + 1;
        out += streamSection(entries, facts, self, xrefOffset, w.size, true);
        w.selfId = self;
    }
    out += "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    w.offset = xrefOffset;
    return w;
}

}  // namespace quill::pdf
