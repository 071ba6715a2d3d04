#include "text_encoding.h"

#include "soundlib.h"

#include <cctype>

namespace miravox::soundlib {

namespace {
void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
} // namespace

std::string utf16_to_utf8(const char16_t* text) {
    std::string out;
    for (const char16_t* p = text; *p; ++p) {
        char32_t cp = *p;
        if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // a lone surrogate cannot be encoded
        }
        append_utf8(out, cp);
    }
    return out;
}

std::string text_argument(const void* arg, unsigned flags) {
    if (!arg)
        return {};
    if (flags & BASS_UNICODE)
        return utf16_to_utf8(static_cast<const char16_t*>(arg));
    return static_cast<const char*>(arg);
}

std::string ascii_upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace miravox::soundlib
