// Content-stream text operators for laid-out lines.
#pragma once

#include "TextLayout.h"

#include <optional>
#include <string>

namespace quill::pdf::appearance {

// The PDF resource name a fallback face is put under in an appearance's resources.
std::string resourceName(FontRef font, const std::string& fieldFont);

// The text operators for one line starting at (x, y): the font switched where the glyphs'
// font changes (`current` is the font selected so far, none before the first Tf), positions
// kept by TJ adjustments, marks raised with Ts.
std::string showLine(const Line& line, double x, double y, double size, const std::string& fieldFont,
                     std::optional<FontRef>& current);

}  // namespace quill::pdf::appearance
