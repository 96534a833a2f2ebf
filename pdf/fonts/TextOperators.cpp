// Content-stream text operators for laid-out lines.
#include "TextOperators.h"

#include "EmbeddedFonts.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <cmath>

namespace quill::pdf::appearance {

namespace {

std::string hexCode(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 15];
    }
    return out;
}

}  // namespace

std::string resourceName(FontRef font, const std::string& fieldFont) {
    return font.isField() ? fieldFont : fonts::EmbeddedFonts::resourceName(font.face());
}

std::string showLine(const Line& line, double x, double y, double size, const std::string& fieldFont,
                     std::optional<FontRef>& current) {
    std::string out = "1 0 0 1 " + number(x) + " " + number(y) + " Tm\n";
    std::string tj, bytes;
    int parts = 0;  // strings and numbers in tj
    auto endString = [&] {
        if (bytes.empty()) return;
        // The field's own font as a plain string, an embedded one's two-byte codes in hex.
        tj += current && current->isField() ? QPDFObjectHandle::newString(bytes).unparse() : "<" + hexCode(bytes) + ">";
        bytes.clear();
        ++parts;
    };
    auto flush = [&] {
        endString();
        if (parts == 1)
            out += tj + " Tj\n";
        else if (parts > 1)
            out += "[" + tj + "] TJ\n";
        tj.clear();
        parts = 0;
    };
    auto adjust = [&](double n) {
        if (std::fabs(n) <= 0.01) return;
        endString();
        tj += " " + number(n) + " ";
        ++parts;
    };
    for (const auto& g : line) {
        if (!current || g.font != *current) {
            flush();
            out += resourceName(g.font, fieldFont) + " " + number(size) + " Tf\n";
            current = g.font;
        }
        bool raised = std::fabs(g.dy) > 0.01;
        if (raised) {
            flush();
            out += number(g.dy * size / 1000) + " Ts\n";
        }
        adjust(-g.dx);
        bytes += g.code;
        adjust(g.nominal + g.dx - g.advance);
        if (raised) {
            flush();
            out += "0 Ts\n";
        }
    }
    flush();
    return out;
}

}  // namespace quill::pdf::appearance
