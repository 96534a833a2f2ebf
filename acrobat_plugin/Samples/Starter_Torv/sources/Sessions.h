// Sessions: a working document for each process that sends bridge events.
//
// Several FileMaker processes may talk to one Acrobat at once. Each sender
// (the pid the Event Manager puts under keySenderPIDAttr) has its own slot
// holding what WorkingDocument.h describes — the working document, whether it
// came from a window, its page edits and the field flag. For the length of
// one handler call the sender's slot is what gPdDoc, gPdDocFromWindow,
// editCopy and fieldFound hold; between calls those globals are empty. So the
// handlers work on one document as before, and a call of one sender never
// reaches another sender's document. Events without a sender (sent from
// inside Acrobat) share one slot of their own.
//
// A sender is known by its PSN, which names one process for its whole life:
// a later process that reuses the pid is another sender. Before each call the
// slots of senders that have exited are closed as the close handler would
// (documents the plug-in opened are closed, window documents forgotten, page
// edits dropped); so is the slot of a sender that has exited before its call
// is answered.
//
// Windows: the active window is the document a call of the form, save, save
// as and close handlers works on, unless its document is another sender's
// working document; then that sender's window is out of reach and the call
// works on the caller's own working document. A window no sender holds (the
// user's) goes to the first sender whose field call adopts it.
//
// Threading: Acrobat's main thread, one event at a time.
#pragma once

#include "PIHeaders.h"

#include "NSAppleEventDescriptor.h"

namespace quill::acro {

// Puts the sender's slot into the globals for the scope of one handler call
// and back afterwards. A scope inside another (a handler dispatching an event
// of its own) keeps the outer sender's slot.
class SenderScope {
public:
    explicit SenderScope(NSAppleEventDescriptor* event) noexcept;
    ~SenderScope();
    SenderScope(const SenderScope&) = delete;
    SenderScope& operator=(const SenderScope&) = delete;

private:
    bool entered_ = false;
};

// The active window when this call may work on it (see above), else null.
AVDoc activeWindowOfSender();

}  // namespace quill::acro
