#pragma once
// SHA-256 (FIPS 180-4), small and portable: no system library, so every program, the i686
// Windows flasher included, can name the bytes it carries.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sys {

class Sha256 {
public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(std::span<const std::uint8_t> data);
  // The digest of everything fed so far; the object must not be fed afterwards.
  Digest Finish();

private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockUsed_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// The digest of data as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> data);

} // namespace sys
