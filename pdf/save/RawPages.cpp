// Pages inserted from another file's bytes (see RawPages.h).
#include "RawPages.h"

#include "quill/pdf/Document.h"
#include "DocumentImpl.h"
#include "IncrementalState.h"
#include "RawObject.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <set>
#include <string_view>

namespace quill::pdf {

std::shared_ptr<RawPages> planRawPages(Document& source, const std::vector<QPDFObjGen>& sourcePages,
                                       QPDFObjGen sourceRoot, int start, int count) {
    const std::shared_ptr<IncrementalState>& st = DocumentAccess::impl(source).incremental;
    if (!st || !st->bytes || source.wasRepaired() || !st->updates.empty() || !st->committed.empty()) return nullptr;
    QPDF& q = source.qpdf();
    if (q.isEncrypted()) return nullptr;
    const std::string_view file(st->bytes, st->size);
    const std::map<QPDFObjGen, QPDFXRefEntry> xref = q.getXRefTable();
    const QPDFObjGen catalog = q.getTrailer().getKey("/Root").getObjGen();
    const std::set<QPDFObjGen> pages(sourcePages.begin(), sourcePages.end());

    auto plan = std::make_shared<RawPages>();
    plan->source = st;
    for (int i = 0; i < count; ++i) {
        const QPDFObjGen og = sourcePages[static_cast<std::size_t>(start + i)];
        if (!plan->index.emplace(og, i).second) return nullptr;
        RawPages::Copy page;
        page.og = og;
        page.page = true;
        plan->copies.push_back(std::move(page));
    }
    auto lengthOf = [&](QPDFObjGen og) -> long long {
        QPDFObjectHandle l = q.getObject(og);
        return l.isInteger() ? l.getIntValue() : -1;
    };
    std::vector<QPDFObjGen> refs;
    std::vector<RawObject::RefSpan> spans;
    RawObject raw(file, refs);
    raw.noteSpans(&spans);
    // The copies list grows as the walk finds what the pages refer to.
    for (std::size_t i = 0; i < plan->copies.size(); ++i) {
        const QPDFObjGen og = plan->copies[i].og;
        const bool page = plan->copies[i].page;
        auto e = xref.find(og);
        if (e == xref.end() || e->second.getType() != 1) return nullptr;
        const qpdf_offset_t at = e->second.getOffset();
        if (at < 0 || static_cast<std::uint64_t>(at) >= file.size()) return nullptr;
        refs.clear();
        spans.clear();
        const std::size_t end = raw.scan(static_cast<std::size_t>(at), og, lengthOf);
        if (end == 0) return nullptr;

        std::vector<std::pair<std::size_t, std::size_t>> parts;
        std::size_t skipFrom = 0, skipTo = 0;  // the page's own /Parent, written anew
        std::size_t lengthAt = std::string_view::npos;
        long long length = -1;
        if (page) {
            if (!raw.isDictionary() || raw.isStream()) return nullptr;
            for (const auto& entry : raw.entries()) {
                if (entry.key == "/Parent") {
                    skipFrom = entry.value.begin;
                    skipTo = entry.value.end;
                    continue;
                }
                parts.emplace_back(static_cast<std::size_t>(entry.key.data() - file.data()), entry.value.end);
            }
        } else {
            for (const auto& entry : raw.entries()) {
                // A page outside the insert, reached other than as a page (no page list has it).
                if (entry.key == "/Type" && entry.value.kind == RawObject::Value::kName && entry.value.text == "/Page")
                    return nullptr;
                // A stream's length given as another object: written as the number it is.
                if (raw.isStream() && entry.key == "/Length" && entry.value.kind == RawObject::Value::kRef) {
                    lengthAt = entry.value.begin;
                    length = lengthOf(entry.value.ref);
                }
            }
            parts.emplace_back(raw.bodyStart(), end);
        }
        std::vector<RawPages::Span> kept;
        for (const auto& s : spans) {
            if (s.begin == lengthAt) {
                kept.push_back(RawPages::Span{s.begin, s.end, {}, length});
                continue;
            }
            if (page && s.begin >= skipFrom && s.end <= skipTo) continue;
            kept.push_back(RawPages::Span{s.begin, s.end, s.ref, -1});
            const QPDFObjGen r = s.ref;
            // Another page of the source, like a reference to nothing, becomes null: qpdf's copy
            // does not cross into pages it was not asked for either.
            if (plan->index.count(r) || pages.count(r)) continue;
            // The catalog or the page tree would bring the whole source along.
            if (r == catalog || r == sourceRoot) return nullptr;
            auto re = xref.find(r);
            if (re == xref.end() || re->second.getType() == 0) continue;
            plan->index.emplace(r, static_cast<int>(plan->copies.size()));
            RawPages::Copy next;
            next.og = r;
            plan->copies.push_back(std::move(next));
        }
        plan->copies[i].parts = std::move(parts);
        plan->copies[i].spans = std::move(kept);
    }
    return plan;
}

void writeRawPages(const RawPages& plan, int first, std::string& own, const std::function<void()>& flush,
                   const std::function<void(const char*, std::size_t)>& copy, const std::function<void(int)>& starts) {
    const char* file = plan.source->bytes;
    // Short runs go through `own`; long ones (stream data) straight from the source's bytes.
    auto piece = [&](std::size_t from, std::size_t to) {
        if (to <= from) return;
        if (to - from < 512) {
            own.append(file + from, to - from);
            return;
        }
        flush();
        copy(file + from, to - from);
    };
    const std::string parent = std::to_string(plan.root.getObj()) + " " + std::to_string(plan.root.getGen()) + " R";
    for (std::size_t i = 0; i < plan.copies.size(); ++i) {
        const RawPages::Copy& c = plan.copies[i];
        starts(first + static_cast<int>(i));
        own += std::to_string(first + static_cast<int>(i));
        own += " 0 obj";
        if (c.page) own += "\n<<";
        std::size_t s = 0;
        for (const auto& [from, to] : c.parts) {
            if (c.page) own += ' ';
            std::size_t at = from;
            for (; s < c.spans.size() && c.spans[s].end <= to; ++s) {
                const RawPages::Span& span = c.spans[s];
                if (span.begin < at) continue;
                piece(at, span.begin);
                if (span.length >= 0) {
                    own += std::to_string(span.length);
                } else if (auto it = plan.index.find(span.ref); it != plan.index.end()) {
                    own += std::to_string(first + it->second);
                    own += " 0 R";
                } else {
                    own += "null";
                }
                at = span.end;
            }
            piece(at, to);
        }
        if (c.page) own += " /Parent " + parent + ">>\nendobj";
        own += '\n';
    }
    flush();
}

void settleRawPages(Document& doc) {
    auto& me = DocumentAccess::impl(doc);
    std::shared_ptr<RawPages> plan = std::move(me.rawPages);
    me.rawPages.reset();
    if (!plan) return;
    const std::uint64_t before = doc.generation();
    try {
        std::shared_ptr<Document> twin = DocumentAccess::reopen(*plan->source);
        me.throughQpdf = true;
        doc.insertPages(plan->after, *twin, plan->start, plan->count, plan->flags);
        me.throughQpdf = false;
    } catch (...) {
        // Kept for the save only while the failed insert changed nothing.
        me.throughQpdf = false;
        if (doc.generation() == before) me.rawPages = std::move(plan);
        throw;
    }
}

}  // namespace quill::pdf
