// Text conversion between UTF-8, UTF-16 and the 8-bit card strings.
//
// Everything the user sees is UTF-16 inside the system; terminals and files
// other than the log get UTF-8. Card strings are 8-bit and all card
// characters are ASCII, so the "code page" of the card rules is Latin-1:
// it maps the 15 card characters to themselves and every byte to one unit.
#pragma once

#include <string>
#include <string_view>

namespace zelk {

// Invalid sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);

// UTF-8 decoding step by step, shared by whole strings and byte streams.
// The first byte of a character: false when no character starts with it
// (a continuation byte, an overlong or out-of-range lead); else the bits it
// holds and how many continuation bytes follow.
bool utf8Lead(unsigned char b, char32_t& cp, int& extra);
// Whether a complete sequence is a character: not an overlong form, a
// surrogate, or past U+10FFFF.
bool utf8Valid(char32_t cp, int extra);

// 8-bit card text to wide text: byte b becomes unit b.
std::u16string widen(std::string_view text);
// Wide text to 8-bit card text: units above 0xFF become '?'.
std::string narrow(std::u16string_view text);

}  // namespace zelk
