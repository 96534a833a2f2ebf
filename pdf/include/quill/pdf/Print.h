// Printing a document through CUPS to the default destination.
#pragma once

#include <string>

namespace quill::pdf {

class Document;

// Prints pages firstPage..lastPage (0-based, inclusive; lastPage may be kLastPage) of `doc` as it
// is in memory to the default CUPS destination, without any dialog. Returns the CUPS job id.
// Throws Error when no printer is available, the range is bad, or the job is refused.
int print(Document& doc, int firstPage, int lastPage, const std::string& jobTitle = {});

}  // namespace quill::pdf
