// PercentEscapes: the "%XX" escapes of URLs, as NSString and CFURL read them,
// for house code that holds a URL's text as bytes rather than as an NSString.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill::url {

// "%XX" escapes (either case of hex digit) to the bytes they stand for; every
// other byte is kept as it is, whatever its encoding. nullopt when a "%" is
// not followed by two hex digits. An escaped NUL is decoded like any byte.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace quill::url
