#pragma once
// The five text functions with which every JSON message is read and every JSON/XML value is
// made safe. No parser: they look for substrings and count brackets, byte by byte (bytes of
// 0x80 and above are ordinary characters). They never throw; failures give empty results.

#include <string>
#include <string_view>

namespace ab {

// Backslash before every double quote, backslash and slash; nothing else changes.
std::string JsonEscape(std::string_view text);
// The five predefined entities for " ' < > &; nothing else changes.
std::string XmlEscape(std::string_view text);
// Value of the first occurrence of "key": (or "key" :) anywhere in the text. Strings come back
// unescaped (only \\ \" \/), objects and arrays without their outer brackets, numbers as the
// run of '-', '.' and digits, true/false as words; anything else (null) as empty.
std::string JsonGetValue(std::string_view json, std::string_view key);
// Cuts the next complete {...} or [...] (brackets kept) from the front of text; an empty result
// when nothing was cut. Text becomes what remains.
std::string JsonNextElement(std::string& text);
// Cuts the next compact "key":value pair from the front of text. Returns whether a value was
// found; key and value are set as far as they were read.
bool JsonNextPair(std::string& text, std::string& key, std::string& value);

}  // namespace ab
