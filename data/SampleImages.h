#pragma once
// Sample firmware images for demos and tests: 8051-style code bytes of a fixed pseudo-random
// pattern, the image kind's signature, and the image's revision as four ASCII characters at
// sim::kImageRevisionOffset (which the emulated drive reports after a flash).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace samples {

enum class SampleKind {
  Plain,          // no signature
  CdRwNewFormat,  // 05 80 at 0x1100
  DvdRom,         // 05 80 at 0x4000, "DVD-ROM QAX-200" at 0x4010
  DvdRomAt4008,   // 05 80 at 0x4008, "dvd-rom qbx-310" at 0x4018 (lower case on purpose)
};

inline constexpr std::size_t kSampleLength = 0x80000;

// An image of the given kind and length carrying revision (4 characters) at the revision place.
// length must be at least 0x4028.
std::vector<std::uint8_t> MakeSampleImage(SampleKind kind, const std::string& revision,
                                          std::size_t length = kSampleLength);

struct SampleFile {
  const char* Name;  // starts with the revision, so a flasher's new-revision field matches it
  SampleKind Kind;
};

// The files the generator writes.
inline constexpr SampleFile kSampleFiles[] = {
    {"1.10.BIN", SampleKind::CdRwNewFormat},
    {"2.20.BIN", SampleKind::DvdRom},
    {"2.30.DVD", SampleKind::DvdRomAt4008},
    {"K4P5.BIN", SampleKind::Plain},
};

} // namespace samples
