#pragma once
// What the drive layer takes from the platform besides its transport: the system's error texts
// and the code of a failed device I/O, so that every transport reports errors alike.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace drive {

// The system's text for an error code, ended by its line break, as it appears in the sense
// message; empty when the text does not fit the message's 80-byte buffer.
std::optional<std::string> PlatformErrorText(std::uint32_t code);

// The system's code for "the device failed the I/O" (ERROR_IO_DEVICE on Windows, EIO elsewhere).
std::uint32_t PlatformIoErrorCode();

// The size of the buffer the system's error text must fit, line break and terminator included.
inline constexpr std::size_t kErrorTextBufferSize = 80;

} // namespace drive
