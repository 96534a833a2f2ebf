// Process-wide heap trimming: a closed document's memory goes back to the system when there is
// enough of it to matter, at once or once the application has been idle a while (HeapTrim.cpp).
#pragma once

namespace acro_host::heap {

// Sets the heap up for documents; called once, as the program starts.
void configure();
// Starts the program again, with the same arguments, its heap in large pages, when the system
// gives them only to memory that asks (transparent huge pages in "madvise" mode) and glibc was
// not told otherwise; returns when it is not done or cannot be. Due before anything else runs.
void restartWithLargePages(char** argv);
// A document is about to be opened: the application is busy, an idle trim waits.
void documentOpening();
// A closed document's objects were just freed.
void documentFreed();

}  // namespace acro_host::heap
