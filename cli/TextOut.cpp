#include "cli/TextOut.h"

#include "media/TagRecord.h"

namespace pelloran::cli {

namespace {

// Code points a terminal takes as commands or that reorder what follows: C1 controls (U+009B starts an
// escape sequence like ESC [), bidi embeddings, overrides and isolates.
bool IsTerminalControl(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x61C;
}

}  // namespace

std::string EscapeText(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    const auto hex = [](std::string& out, unsigned value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const char32_t c = NextCodePoint(text, i);
        if (c == 0xFFFD && i - start == 1) {
            // A byte that is not UTF-8 (0x9B alone is a C1 control to many terminals).
            out += "\\x";
            hex(out, static_cast<unsigned char>(text[start]), 2);
            continue;
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    hex(out, static_cast<unsigned>(c), 2);
                } else if (IsTerminalControl(c)) {
                    out += "\\u";
                    hex(out, static_cast<unsigned>(c), 4);
                } else {
                    out.append(text.substr(start, i - start));
                }
        }
    }
    return out;
}

}  // namespace pelloran::cli
