// JSON strings: escaped, and valid UTF-8 whatever bytes they were made from.
#include "text/json.h"

#include <cstdio>

namespace text {

namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one (a stray
// byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

} // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
        } else if (c < 0x80) {
            out += char(c);
        } else if (const std::size_t n = utf8Length(s, i)) {
            out.append(s, i, n);
            i += n - 1;
        } else {
            out += "\xEF\xBF\xBD"; // U+FFFD for a byte that is not UTF-8: the text stays valid
        }
    }
    return out + "\"";
}

} // namespace text
