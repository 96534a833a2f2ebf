// TextInfoHandlers: the document information handlers and the page text
// handler.
#include "EventHandler.h"
#include "HandlerFrame.h"
#include "WorkingDocument.h"

#include <cstdint>
#include <string>

using namespace quill::acro;
namespace bridge = quill::bridge;

namespace {
// Word attribute bits that place a space and a line break after a word.
constexpr ASUns16 kWordAdjacentToSpace = WXE_ADJACENT_TO_SPACE;
constexpr ASUns16 kWordLastOnLine = WXE_LAST_WORD_ON_LINE;
}  // namespace

// ---- document information --------------------------------------------------

void MyEventHandler::handleGetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("get info", replyEvent, [&] {
        NSStringOrNil key = stringParam(event, bridge::keyCString);
        if (!key) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        ASText value = ASTextNew();
        ASText keyText = nullptr;
        std::string message;
        const ASUTF16Val* units = nullptr;
        std::size_t count = 0;
        DURING
        keyText = textFromRequest(*key);
        PDDocGetInfoASText(gPdDoc, keyText, value);
        units = ASTextGetUnicode(value);
        count = unitCount(units);
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        if (message.empty())
            setReplyUnits(replyEvent, units, count);
        else
            setReplyText(replyEvent, message);
        destroyText(keyText);
        destroyText(value);
    });
}

void MyEventHandler::handleSetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("set info", replyEvent, [&] {
        NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(bridge::keyList) : nullptr;
        NSAppleEventDescriptorRef keyItem = list ? list->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef valueItem = list ? list->descriptorAtIndex(2) : nullptr;
        NSStringOrNil key = keyItem ? keyItem->stringValue() : std::nullopt;
        NSStringOrNil value = valueItem ? valueItem->stringValue() : std::nullopt;
        if (!key || !value) {
            setReplyText(replyEvent, "-2");
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        ASText keyText = textFromRequest(*key);
        ASText valueText = nullptr;
        DURING
        valueText = textFromRequest(*value);
        PDDocSetInfoAsASText(gPdDoc, keyText, valueText);
        HANDLER
        alert(errorMessage(ERRORCODE));
        END_HANDLER
        destroyText(keyText);
        destroyText(valueText);
        setReplyText(replyEvent, "OK");
    });
}

// ---- page text -------------------------------------------------------------

void MyEventHandler::handleGetTextFromPageEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("page text", replyEvent, [&] {
        NSAppleEventDescriptorRef pageParam = event ? event->paramDescriptorForKeyword(bridge::keyLong) : nullptr;
        const std::int64_t pageIndex = static_cast<std::int64_t>(pageParam ? pageParam->int32Value() : 0) - 1;
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        const ASInt32 pageCount = PDDocGetNumPages(gPdDoc);
        if (pageIndex < 0 || pageIndex >= pageCount) {
            setReplyText(replyEvent, "-1");
            return;
        }
        const auto page = static_cast<ASInt32>(pageIndex);
        PDWordFinder finder = nullptr;
        bool listHeld = false;
        ASText pageText = nullptr, wordText = nullptr, lineBreak = nullptr, space = nullptr;
        DURING
        finder = PDDocCreateWordFinderUCS(gPdDoc, 0, WXE_XY_SORT, nullptr);
        PDWord wordInfo = nullptr;
        ASInt32 wordCount = 0;
        PDWordFinderAcquireWordList(finder, page, &wordInfo, nullptr, nullptr, &wordCount);
        listHeld = true;
        if (wordCount <= 0) {
            setReplyText(replyEvent, "-2");
        } else {
            pageText = ASTextNew();
            wordText = ASTextNew();
            lineBreak = ASTextFromEncoded("\r", 1);
            space = ASTextFromEncoded(" ", 1);
            for (ASInt32 i = 0; i < wordCount; ++i) {
                PDWord word = PDWordFinderGetNthWord(finder, i);
                PDWordGetASText(word, W_SOFT_HYPHEN, wordText);
                ASTextCat(pageText, wordText);
                const ASUns16 attributes = PDWordGetAttr(word);
                if (attributes & kWordAdjacentToSpace) ASTextCat(pageText, space);
                if (attributes & kWordLastOnLine) ASTextCat(pageText, lineBreak);
            }
        }
        listHeld = false;
        PDWordFinderReleaseWordList(finder, page);
        if (pageText) setReplyFromText(replyEvent, pageText);
        HANDLER
        // The message goes to a note only; the reply carries no text.
        alert(errorMessage(ERRORCODE));
        END_HANDLER
        destroyText(wordText);
        destroyText(pageText);
        destroyText(lineBreak);
        destroyText(space);
        if (finder) {
            DURING
            if (listHeld) PDWordFinderReleaseWordList(finder, page);
            PDWordFinderDestroy(finder);
            HANDLER
            END_HANDLER
        }
    });
}
