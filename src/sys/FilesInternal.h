#pragma once
// Shared by Files.cpp and its platform parts; not for the layers above.

#include <cstdint>
#include <string>

#include "sys/Files.h"

namespace sys {

// "F is a folder, not a file" or "F is not a regular file (...)".
std::string DescribeNonRegular(const std::string& path, PathKind kind);
// "F is N bytes, more than the M such a file may have".
std::string DescribeTooLarge(const std::string& path, std::uint64_t size, std::uint64_t maxBytes);
// A name beside finalPath that no other build uses: process id, random bits and a counter.
std::string UniqueTemporaryName(const std::string& finalPath);
unsigned ProcessId();

// The interrupt handler's list of named temporary files.
void RememberPendingPath(const std::string& path);
void ForgetPendingPath(const std::string& path);
// Removes every remembered file; safe in a signal or console handler.
void RemoveRememberedPendingFiles();
// Removes one file from a signal or console handler (unlink / DeleteFileA).
void RemoveFileAtInterrupt(const char* path);

} // namespace sys
