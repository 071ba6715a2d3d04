#pragma once
// Paths and addresses arrive as UTF-16 (BASS_UNICODE) or UTF-8; the engine works in UTF-8.
// Thread rules: pure functions.

#include <string>

namespace miravox::soundlib {

std::string utf16_to_utf8(const char16_t* text);

// `arg` is a zero-terminated UTF-16 text when `flags` has BASS_UNICODE, else UTF-8.
std::string text_argument(const void* arg, unsigned flags);

// Upper-case ASCII copy (for scheme and extension tests).
std::string ascii_upper(std::string s);

} // namespace miravox::soundlib
