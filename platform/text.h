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

// 8-bit card text to wide text: byte b becomes unit b.
std::u16string widen(std::string_view text);
// Wide text to 8-bit card text: units above 0xFF become '?'.
std::string narrow(std::u16string_view text);

}  // namespace zelk
