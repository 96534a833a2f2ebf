// Document information: the Info dictionary's entries as text, kept in step with the XMP packet.
#pragma once

#include <optional>
#include <string>

namespace quill::pdf {

class Document;

// The value of entry `key` (a name written without the slash, as given, case kept) of the document's
// Info dictionary, decoded from its PDF text string. "" when there is no Info dictionary, no such entry,
// or the entry is not a string. Throws Error (kBadParm) for an empty key or one holding a NUL.
std::u16string getInfo(Document& doc, const std::u16string& key);

// Stores `value` under `key` as a PDF text string (PDFDocEncoding when it can hold the value, else
// UTF-16BE), creating the Info dictionary when the document has none, and marks the document changed.
// When the catalog carries an XMP packet, Title, Author, Subject, Keywords, Creator and Producer also
// set their XMP property (dc:title, dc:creator, dc:description, pdf:Keywords, xmp:CreatorTool,
// pdf:Producer). A packet that cannot be edited safely is left as it is.
void setInfo(Document& doc, const std::u16string& key, const std::u16string& value);

// The XMP edit behind setInfo: `packet` with the property of Info key `key` set to `utf8Value`.
// nullopt when the key has no XMP property or the packet is not one this edit can change safely
// (not UTF-8, no rdf:RDF element, unbalanced markup).
std::optional<std::string> xmpWithInfo(const std::string& packet, const std::string& key, const std::string& utf8Value);

}  // namespace quill::pdf
