#pragma once
// The system's text for a Windows error code, in one place for every caller.

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace sys {

using FormatMessageFunction = DWORD(WINAPI*)(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                             LPSTR buffer, DWORD size, va_list* arguments);

// The system's text for the code as FormatMessageA gives it, line break included; empty when the
// system has none or it does not fit bufferSize bytes with its terminator. format is the function
// to ask (a caller's call table passes its own, so that tests can fake it).
std::optional<std::string> SystemErrorText(DWORD code, std::size_t bufferSize = 256,
                                           FormatMessageFunction format = ::FormatMessageA);

} // namespace sys
