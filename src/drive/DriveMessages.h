#pragma once
// The message boxes that the transports show themselves.

#include <cstdint>
#include <string>

namespace drive {

// The address in the library message where the user can get the ASPI layer.
inline constexpr const char* kAspiDownloadAddress = "http://aspi.example.com/";

// "Error opening: %d, Drive: %s" in a plain box with OK.
void ShowOpenFailure(std::int32_t code, const std::string& path);
// The library message ("Unable to load WNASPI32.DLL !" ...) in an error box with OK.
void ShowAspiLibraryMissing();
// The texts themselves, for the tests.
std::string OpenFailureText(std::int32_t code, const std::string& path);
std::string AspiLibraryMissingText();

} // namespace drive
