#include "sys/SystemErrorWin32.h"

#include <vector>

namespace sys {

std::optional<std::string> SystemErrorText(DWORD code, std::size_t bufferSize, FormatMessageFunction format) {
  std::vector<char> text(bufferSize);
  // Without FORMAT_MESSAGE_IGNORE_INSERTS a text with inserts would read arguments that are not there.
  const DWORD length = format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                              text.data(), static_cast<DWORD>(text.size()), nullptr);
  if (length == 0) return std::nullopt;
  return std::string(text.data(), length);
}

} // namespace sys
