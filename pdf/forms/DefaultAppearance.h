// A field's default appearance (/DA): the operators a value is drawn with, and the font and
// size its last Tf names.
#pragma once

#include <string>
#include <vector>

namespace quill::pdf::appearance {

// A number as the drawing writes it: at most two decimals, no negative zero.
std::string number(double v);

struct DefaultAppearance {
    std::vector<std::string> tokens;  // raw token text
    int sizeAt = -1;                  // index of the size operand of the last Tf; -1 when it has none
    std::string font;                 // its font name, with the solidus
    double size = 0;
    std::vector<int> tfAt;  // index of every Tf operator

    explicit DefaultAppearance(const std::string& da);

    // The operators with the size the drawing uses.
    std::string withSize(double chosen) const;
    // The operators without their font choice (when the field's font is nowhere to be had).
    std::string withoutFont() const;
};

}  // namespace quill::pdf::appearance
