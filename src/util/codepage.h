#pragma once
// Windows-1251 <-> UTF-8. Texts are Windows-1251 bytes everywhere inside the program; these two
// functions are the only conversion, used at the HTTP boundary, on stdout and in the window.

#include <string>
#include <string_view>

namespace ab {

// Every byte maps to one code point; 0x98 (undefined in the code page) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);
// Code points outside the code page, and malformed UTF-8 sequences, become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace ab
