// PageHandlers: inserting pages from another document and deleting pages.
// Both are recorded as page edits of the working document, made by the save.
#include "EventHandler.h"
#include "HandlerFrame.h"
#include "WorkingDocument.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

using namespace quill::acro;
namespace bridge = quill::bridge;

namespace {
using namespace quill::bridge;

// Items 1..n of a list parameter, all present; false otherwise.
bool listItems(NSAppleEventDescriptor* event, long n, std::vector<NSAppleEventDescriptorRef>& items) {
    NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(bridge::keyList) : nullptr;
    if (!list) return false;
    items.clear();
    for (long i = 1; i <= n; ++i) {
        NSAppleEventDescriptorRef item = list->descriptorAtIndex(i);
        if (!item) return false;
        items.push_back(item);
    }
    return true;
}
}  // namespace

void MyEventHandler::handleInsertPagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("insert pages", replyEvent, [&] {
        std::vector<NSAppleEventDescriptorRef> items;
        NSStringOrNil sourcePath;
        if (listItems(event, 5, items)) sourcePath = items[1]->stringValue();
        if (!sourcePath) {
            setReplyText(replyEvent, std::string(kInsertException) + kRequestLacksPageList);
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        if (pageChangesDenied(gPdDoc, PDPermReqOprInsert)) {
            setReplyText(replyEvent, std::string(kInsertFailed) + kPagesCertified);
            return;
        }
        const std::int64_t insertAfter = static_cast<std::int64_t>(items[0]->int32Value()) - 1;
        const std::int64_t firstSource = static_cast<std::int64_t>(items[2]->int32Value()) - 1;
        const std::int64_t pageCount = items[3]->int32Value();
        const ASUns16 flags = items[4]->booleanValue() ? PDInsertBookmarks : PDInsertAll;

        std::string replyText = kReplyPagesDone;
        // Held until the handler ends, however it ends: a raise while the
        // pages are counted or inserted closes the source too.
        ScopedDoc source;
        try {
            DURING
            ScopedPathName pathName(pathNameFromRequestPath(*sourcePath));
            source.reset(PDDocOpenEx(pathName.get(), ASGetDefaultFileSys(), nullptr, nullptr, false));
            HANDLER
            replyText = std::string(kInsertOpenFailed) + errorMessage(ERRORCODE);
            END_HANDLER
        } catch (const std::exception& e) {
            replyText = std::string(kInsertException) + e.what();
        }
        if (replyText == kReplyPagesDone) {
            // Ranges are those of the document as the earlier page edits
            // leave it; the pages themselves move at the save.
            const std::int64_t targetPages = editCopy.pageCount(gPdDoc);
            const std::int64_t sourcePages = PDDocGetNumPages(source.get());
            // Every failing check replaces the text: the last one is sent.
            if (insertAfter < 0 || insertAfter > targetPages - 1) replyText = kInsertAfterOutOfRange;
            if (firstSource < 0 || firstSource > sourcePages - 1) replyText = kInsertStartOutOfRange;
            if (pageCount < 0 || firstSource + pageCount > sourcePages) replyText = kInsertCountOutOfRange;
        }
        if (replyText == kReplyPagesDone) {
            try {
                DURING
                // The edit keeps the source open until the save.
                editCopy.insert(gPdDoc, static_cast<ASInt32>(insertAfter), source.release(),
                                static_cast<ASInt32>(firstSource), static_cast<ASInt32>(pageCount), flags);
                HANDLER
                replyText = std::string(kInsertFailed) + errorMessage(ERRORCODE);
                END_HANDLER
            } catch (const std::exception& e) {
                replyText = std::string(kInsertException) + e.what();
            }
        }
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleDeletePagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("delete pages", replyEvent, [&] {
        std::vector<NSAppleEventDescriptorRef> items;
        if (!listItems(event, 2, items)) {
            setReplyText(replyEvent, std::string(kDeleteException) + kRequestLacksPageList);
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        if (pageChangesDenied(gPdDoc, PDPermReqOprDelete)) {
            setReplyText(replyEvent, std::string(kDeleteFailed) + kPagesCertified);
            return;
        }
        const std::int64_t last = static_cast<std::int64_t>(items[0]->int32Value()) - 1;
        const std::int64_t first = static_cast<std::int64_t>(items[1]->int32Value()) - 1;
        std::string replyText = kReplyPagesDone;
        {
            const std::int64_t pages = editCopy.pageCount(gPdDoc);
            if (first < 0 || first > pages - 1) replyText = kDeleteStartOutOfRange;
            if (last < 0 || last > pages - 1) replyText = kDeleteLastOutOfRange;
            if (last < first) replyText = kDeleteOrder;
        }
        if (replyText == kReplyPagesDone) {
            try {
                DURING
                editCopy.remove(gPdDoc, static_cast<ASInt32>(first), static_cast<ASInt32>(last));
                HANDLER
                replyText = std::string(kDeleteFailed) + errorMessage(ERRORCODE);
                END_HANDLER
            } catch (const std::exception& e) {
                replyText = std::string(kDeleteException) + e.what();
            }
        }
        setReplyText(replyEvent, replyText);
    });
}
