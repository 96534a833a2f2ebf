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

void destroyWordFinderQuietly(PDWordFinder finder) noexcept {
    if (finder) quietly("PDWordFinderDestroy", [&] { PDWordFinderDestroy(finder); });
}

using ScopedWordFinder = Scoped<PDWordFinder, destroyWordFinderQuietly>;

// The words of one page: a word finder and the page's word list, both
// released when the holder goes, also while a raise unwinds.
class PageWords {
public:
    PageWords(PDDoc doc, ASInt32 page) : page_(page), finder_(PDDocCreateWordFinderUCS(doc, 0, WXE_XY_SORT, nullptr)) {
        PDWord wordInfo = nullptr;
        PDWordFinderAcquireWordList(finder_.get(), page_, &wordInfo, nullptr, nullptr, &count_);
        listHeld_ = true;
    }
    ~PageWords() {
        if (listHeld_)
            quietly("PDWordFinderReleaseWordList", [&] { PDWordFinderReleaseWordList(finder_.get(), page_); });
    }
    PageWords(const PageWords&) = delete;
    PageWords& operator=(const PageWords&) = delete;

    ASInt32 count() const { return count_; }
    PDWord word(ASInt32 i) const { return PDWordFinderGetNthWord(finder_.get(), i); }

private:
    ASInt32 page_;
    ScopedWordFinder finder_;
    ASInt32 count_ = 0;
    bool listHeld_ = false;
};

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
        ScopedText value;
        std::string message;
        const ASUTF16Val* units = nullptr;
        std::size_t count = 0;
        DURING
        value.reset(ASTextNew());
        ScopedText keyText(textFromRequest(*key));
        PDDocGetInfoASText(gPdDoc, keyText.get(), value.get());
        units = ASTextGetUnicode(value.get());
        count = unitCount(units);
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        if (message.empty())
            setReplyUnits(replyEvent, units, count);
        else
            setReplyText(replyEvent, message);
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
            setReplyText(replyEvent, bridge::kReplyNoInfoPair);
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        // A refused or failed store is answered with Acrobat's message, not "OK" (a document
        // certified with no changes allowed refuses every entry); the user also sees the note.
        replyAlertingOutcome(replyEvent, [&] {
            ScopedText keyText(textFromRequest(*key));
            ScopedText valueText(textFromRequest(*value));
            PDDocSetInfoAsASText(gPdDoc, keyText.get(), valueText.get());
            return true;
        });
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
            setReplyText(replyEvent, bridge::kReplyNoSuchPage);
            return;
        }
        const auto page = static_cast<ASInt32>(pageIndex);
        DURING
        ScopedText pageText;
        {
            PageWords words(gPdDoc, page);
            if (words.count() > 0) {
                pageText.reset(ASTextNew());
                ScopedText wordText(ASTextNew());
                ScopedText lineBreak(textFromUTF8(bridge::kLineEnd));
                ScopedText space(textFromUTF8(" "));
                for (ASInt32 i = 0; i < words.count(); ++i) {
                    PDWord word = words.word(i);
                    PDWordGetASText(word, W_SOFT_HYPHEN, wordText.get());
                    ASTextCat(pageText.get(), wordText.get());
                    const ASUns16 attributes = PDWordGetAttr(word);
                    if (attributes & kWordAdjacentToSpace) ASTextCat(pageText.get(), space.get());
                    if (attributes & kWordLastOnLine) ASTextCat(pageText.get(), lineBreak.get());
                }
            }
        }
        if (pageText)
            setReplyFromText(replyEvent, pageText.get());
        else
            setReplyText(replyEvent, bridge::kReplyNoWords);
        HANDLER
        // The message goes to a note only; the reply carries no text.
        alert(errorMessage(ERRORCODE));
        END_HANDLER
    });
}
