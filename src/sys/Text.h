#pragma once
// Texts in the system's single-byte (ANSI) character set.

#include <string>

namespace sys {

// The text with its letters in upper case, by the rules of the system's character set: the
// ANSI code page on Windows (so accented letters of a single-byte code page are upper-cased
// too, and double-byte characters are left intact), ASCII letters elsewhere.
std::string UpperCase(std::string text);

// The text as a terminal or a window may show it: each control byte (below 0x20, and 0x7F)
// becomes '?', so that bytes read from a file or a device never act on the screen. The length
// stays the same, so fixed-width texts keep their width.
inline std::string PrintableText(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

} // namespace sys
