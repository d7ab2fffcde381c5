#pragma once
// The program's version: the project version, followed by the git description in
// parentheses when built from a checkout, e.g. "0.1.0 (449be89-dirty)".

namespace sys {

const char* OdflashVersion();

} // namespace sys
