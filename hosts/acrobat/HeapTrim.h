// Process-wide heap trimming: a closed document's memory goes back to the system when there is
// enough of it to matter, at once or once the application has been idle a while (HeapTrim.cpp).
#pragma once

namespace acro_host::heap {

// Sets the heap up for documents; called once, as the program starts.
void configure();
// A document is about to be opened: the application is busy, an idle trim waits.
void documentOpening();
// A closed document's objects were just freed.
void documentFreed();

}  // namespace acro_host::heap
