// A subset CFF program put in CID order: every CID shows the glyph it was given, in any order
// and more than once, and a program laid out otherwise is refused rather than guessed at.
#include "CffOrder.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <hb-subset.h>
#include <hb.h>

#include <string>
#include <vector>

namespace {

using quill::pdf::fonts::orderGlyphsByCid;

// A CFF (OpenType) CJK face of the machine, subset by HarfBuzz to .notdef and the glyphs of
// `text` in the order HarfBuzz gives them; empty when no such face is installed.
std::string cjkSubset(const std::u32string& text) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("Noto Sans CJK JP"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return {};
    FcChar8* file = nullptr;
    int index = 0;
    FcPatternGetString(match, FC_FILE, 0, &file);
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    hb_blob_t* blob = hb_blob_create_from_file(file ? reinterpret_cast<const char*>(file) : "");
    FcPatternDestroy(match);
    hb_face_t* face = hb_face_create(blob, static_cast<unsigned>(index));
    hb_blob_destroy(blob);
    std::string program;
    hb_blob_t* cff = hb_face_reference_table(face, HB_TAG('C', 'F', 'F', ' '));
    if (hb_blob_get_length(cff) > 0) {
        hb_font_t* font = hb_font_create(face);
        hb_subset_input_t* input = hb_subset_input_create_or_fail();
        for (hb_tag_t t : {HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'), HB_TAG('G', 'D', 'E', 'F')})
            hb_set_add(hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG), t);  // no glyphs by closure
        for (char32_t c : text) {
            hb_codepoint_t gid = 0;
            if (hb_font_get_nominal_glyph(font, c, &gid)) hb_set_add(hb_subset_input_glyph_set(input), gid);
        }
        hb_face_t* subset = hb_subset_or_fail(face, input);
        if (subset) {
            hb_blob_t* out = hb_face_reference_blob(subset);
            unsigned length = 0;
            const char* data = hb_blob_get_data(out, &length);
            program.assign(data, length);
            hb_blob_destroy(out);
            hb_face_destroy(subset);
        }
        hb_subset_input_destroy(input);
        hb_font_destroy(font);
    }
    hb_blob_destroy(cff);
    hb_face_destroy(face);
    return program;
}

struct Glyph {
    int advance;
    hb_glyph_extents_t extents;
};

std::vector<Glyph> glyphsOf(const std::string& program) {
    hb_blob_t* blob = hb_blob_create(program.data(), static_cast<unsigned>(program.size()), HB_MEMORY_MODE_READONLY,
                                     nullptr, nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_font_t* font = hb_font_create(face);
    std::vector<Glyph> glyphs(hb_face_get_glyph_count(face));
    for (unsigned g = 0; g < glyphs.size(); ++g) {
        glyphs[g].advance = hb_font_get_glyph_h_advance(font, g);
        hb_font_get_glyph_extents(font, g, &glyphs[g].extents);
    }
    hb_font_destroy(font);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
    return glyphs;
}

TEST(CffOrder, EveryCidShowsItsGlyph) {
    const std::string program = cjkSubset(U"東京한국");
    if (program.empty()) GTEST_SKIP() << "no CFF CJK face installed";
    const auto before = glyphsOf(program);
    ASSERT_EQ(before.size(), 5u);
    for (const std::vector<unsigned>& order :
         {std::vector<unsigned>{0}, {0, 4, 3, 2, 1}, {0, 2, 2, 4, 1, 2}, {0, 1, 2, 3, 4}}) {
        auto reordered = orderGlyphsByCid(program, order);
        ASSERT_TRUE(reordered) << order.size();
        const auto after = glyphsOf(*reordered);
        ASSERT_EQ(after.size(), order.size());
        for (std::size_t cid = 0; cid < order.size(); ++cid) {
            const Glyph& want = before[order[cid]];
            EXPECT_EQ(after[cid].advance, want.advance) << cid;
            EXPECT_EQ(after[cid].extents.x_bearing, want.extents.x_bearing) << cid;
            EXPECT_EQ(after[cid].extents.y_bearing, want.extents.y_bearing) << cid;
            EXPECT_EQ(after[cid].extents.width, want.extents.width) << cid;
            EXPECT_EQ(after[cid].extents.height, want.extents.height) << cid;
        }
        // The result is itself laid out as expected: ordering it again keeps it.
        EXPECT_TRUE(orderGlyphsByCid(*reordered, std::vector<unsigned>(1, 0)));
    }
}

TEST(CffOrder, RefusesWhatItCannotReorder) {
    const std::string program = cjkSubset(U"東京");
    if (program.empty()) GTEST_SKIP() << "no CFF CJK face installed";
    std::string noCff = program;
    noCff.replace(0, 4, std::string("\0\1\0\0", 4));  // a TrueType signature
    const struct {
        const char* what;
        std::string program;
        std::vector<unsigned> order;
    } cases[] = {
        {"glyph past the end", program, {0, 1, 3}},
        {"CID 0 not .notdef", program, {1, 2}},
        {"no CIDs", program, {}},
        {"truncated", program.substr(0, program.size() / 2), {0, 1}},
        {"header only", program.substr(0, 12), {0, 1}},
        {"not OpenType CFF", noCff, {0, 1}},
        {"empty", std::string(), {0}},
    };
    for (const auto& c : cases) EXPECT_FALSE(orderGlyphsByCid(c.program, c.order)) << c.what;
}

}  // namespace
