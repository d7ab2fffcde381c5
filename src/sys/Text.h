#pragma once
// Texts in the system's single-byte (ANSI) character set.

#include <string>

namespace sys {

// The text with its letters in upper case, by the rules of the system's character set: the
// ANSI code page on Windows (so accented letters of a single-byte code page are upper-cased
// too, and double-byte characters are left intact), ASCII letters elsewhere.
std::string UpperCase(std::string text);

} // namespace sys
