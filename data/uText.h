// Text that arrives in no declared encoding (file names, command-line arguments, names
// from an allocation file) taken as UTF-8 where it is, and as ISO-8859-1 where it is not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The code point of the UTF-8 sequence at text[i], advancing i past it. A byte that
// starts no valid sequence (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF, a cut sequence) is one ISO-8859-1 character of its own.
uint32_t NextCodePoint(std::string_view text, size_t& i);

// True when every byte belongs to a valid UTF-8 sequence.
bool IsValidUtf8(std::string_view text);

// Appends the code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

// Valid UTF-8, unchanged when it already is; every other byte becomes the ISO-8859-1
// character of its value, so that 8-bit text keeps its letters instead of being lost.
std::string TextAsUtf8(std::string_view text);
