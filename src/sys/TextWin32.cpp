#include <windows.h>

#include "sys/Text.h"

namespace sys {

std::string UpperCase(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

} // namespace sys
