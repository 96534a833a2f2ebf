// The word finder and document-information calls as a plug-in makes them, through the host's tables.
#include "AcroSDK.h"
#include "HostAPI.h"

#include "quill/pdf/Text.h"

#include <gtest/gtest.h>

// fontconfig, which the text extractor asks for substitutes of fonts a PDF does not embed, keeps its
// configuration until exit; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";

template <class Proto>
Proto proc(const char* table, Selector sel) {
    auto p = reinterpret_cast<Proto>(acro_host::registeredProc(table, sel));
    if (!p) throw std::runtime_error("no procedure registered");
    return p;
}

#define CALL(table, name) proc<name##SELPROTO>(table, name##SEL)

PDDoc openDoc(const std::string& file) {
    return CALL("PDModel", PDDocOpen)(acro_host::newPathName(kPdfs + file), nullptr, nullptr, false);
}

// The low 16 bits of the error an Acrobat call raised (no frame is pushed here), or 0.
template <class F>
int raisedCode(F&& f) {
    try {
        f();
    } catch (const acro_host::RequestAborted& e) {
        return ErrGetCode(e.code);
    }
    return 0;
}

// The page text the plug-in's text handler assembles, step for step.
std::u16string pluginPageText(PDDoc doc, ASInt32 page, ASInt32* count) {
    PDWordFinder wf = CALL("PDModel", PDDocCreateWordFinderUCS)(doc, 0, WXE_XY_SORT, nullptr);
    PDWord info = nullptr;
    CALL("PDModel", PDWordFinderAcquireWordList)(wf, page, &info, nullptr, nullptr, count);
    std::u16string text;
    ASText word = acro_host::newText(u"");
    for (ASInt32 i = 0; i < *count; ++i) {
        PDWord w = CALL("PDModel", PDWordFinderGetNthWord)(wf, i);
        CALL("PDModel", PDWordGetASText)(w, W_SOFT_HYPHEN, word);
        text += acro_host::textUnits(word);
        ASUns16 attr = CALL("PDModel", PDWordGetAttr)(w);
        if (attr & WXE_ADJACENT_TO_SPACE) text += u' ';
        if (attr & WXE_LAST_WORD_ON_LINE) text += u'\r';
    }
    CALL("PDModel", PDWordFinderReleaseWordList)(wf, page);
    CALL("PDModel", PDWordFinderDestroy)(wf);
    CALL("ASExtra", ASTextDestroy)(word);
    return text;
}

}  // namespace

TEST(WordFinderCalls, PageTextAsThePluginBuildsIt) {
    PDDoc doc = openDoc("pdkids.pdf");
    ASInt32 count = 0;
    std::u16string text = pluginPageText(doc, 1, &count);
    EXPECT_GT(count, 50);
    EXPECT_EQ(text.find(u'\n'), std::u16string::npos);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), u'\r');
    EXPECT_NE(text.find(u"\r"), text.size() - 1);  // more than one line

    // The same words as the engine gives, in the same order.
    std::u16string fromEngine;
    for (const auto& w : quill::pdf::pageWordsFromFile(kPdfs + "pdkids.pdf", 1)) {
        fromEngine += w.text;
        if (w.attributes & quill::pdf::kWordSpaceAfter) fromEngine += u' ';
        if (w.attributes & quill::pdf::kWordLastOnLine) fromEngine += u'\r';
    }
    EXPECT_EQ(text, fromEngine);

    PDDoc scan = openDoc("congress.pdf");
    EXPECT_EQ(pluginPageText(scan, 0, &count), u"");
    EXPECT_EQ(count, 0);
    CALL("PDModel", PDDocClose)(scan);
    CALL("PDModel", PDDocClose)(doc);
}

TEST(WordFinderCalls, BadPagesWordsAndHandlesRaise) {
    PDDoc doc = openDoc("text.pdf");
    PDWordFinder wf = CALL("PDModel", PDDocCreateWordFinderUCS)(doc, 0, WXE_XY_SORT, nullptr);
    ASInt32 count = -1;
    PDWord info = nullptr;
    for (ASInt32 page : {-1, 1, 99}) {
        EXPECT_NE(raisedCode([&] {
                      CALL("PDModel", PDWordFinderAcquireWordList)(wf, page, &info, nullptr, nullptr, &count);
                  }),
                  0)
            << page;
    }
    PDWord* table = nullptr;
    CALL("PDModel", PDWordFinderAcquireWordList)(wf, 0, &info, &table, nullptr, &count);
    ASSERT_GT(count, 0);
    EXPECT_EQ(table[0], info);
    PDWord first = CALL("PDModel", PDWordFinderGetNthWord)(wf, 0);
    EXPECT_EQ(first, info);
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDWordFinderGetNthWord)(wf, count); }), genErrBadParm);
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDWordFinderGetNthWord)(wf, -1); }), genErrBadParm);
    // An address inside a word, or just past the last, is no word.
    for (PDWord bad : {reinterpret_cast<PDWord>(reinterpret_cast<char*>(first) + 1),
                       reinterpret_cast<PDWord>(reinterpret_cast<char*>(table[count - 1]) + 4096)})
        EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDWordGetAttr)(bad); }), genErrBadParm);

    // Once the list is released its words are gone, and say so instead of being followed.
    CALL("PDModel", PDWordFinderReleaseWordList)(wf, 0);
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDWordGetAttr)(first); }), genErrBadParm);
    CALL("PDModel", PDWordFinderDestroy)(wf);
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDWordFinderGetNthWord)(wf, 0); }), genErrBadParm);
    CALL("PDModel", PDWordFinderDestroy)(nullptr);

    // A finder whose document was closed refuses to read it.
    wf = CALL("PDModel", PDDocCreateWordFinderUCS)(doc, 0, 0, nullptr);
    CALL("PDModel", PDDocClose)(doc);
    auto acquireWordList = CALL("PDModel", PDWordFinderAcquireWordList);
    EXPECT_NE(raisedCode([&] { acquireWordList(wf, 0, &info, nullptr, nullptr, &count); }), 0);
    CALL("PDModel", PDWordFinderDestroy)(wf);
}

TEST(DocInfoCalls, GetAndSetThroughTheTable) {
    PDDoc doc = openDoc("text.pdf");  // no Info dictionary
    ASText key = acro_host::newText(u"Title");
    ASText value = acro_host::newText(u"stale");
    CALL("PDModel", PDDocGetInfoASText)(doc, key, value);
    EXPECT_EQ(acro_host::textUnits(value), u"");

    ASText author = acro_host::newText(u"Author");
    ASText name = acro_host::newText(u"Zoë \U0001F600");
    CALL("PDModel", PDDocSetInfoAsASText)(doc, author, name);
    CALL("PDModel", PDDocGetInfoASText)(doc, author, value);
    EXPECT_EQ(acro_host::textUnits(value), u"Zoë \U0001F600");
    // The key is used as written: another case is another entry.
    ASText lower = acro_host::newText(u"author");
    CALL("PDModel", PDDocGetInfoASText)(doc, lower, value);
    EXPECT_EQ(acro_host::textUnits(value), u"");

    ASText empty = acro_host::newText(u"");
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDDocSetInfoAsASText)(doc, empty, name); }), genErrBadParm);
    EXPECT_EQ(raisedCode([&] { CALL("PDModel", PDDocGetInfoASText)(nullptr, key, value); }), genErrBadParm);
    for (ASText t : {key, value, author, name, lower, empty}) CALL("ASExtra", ASTextDestroy)(t);
    CALL("PDModel", PDDocClose)(doc);
}
