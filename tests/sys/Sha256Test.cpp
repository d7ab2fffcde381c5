#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sys/Sha256.h"

namespace {

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The FIPS 180 examples; the 448-bit message fills a block so exactly that the length needs a
// second one, and the million 'a' go through many blocks.
TEST(Sha256, MatchesTheStandardTestVectors) {
  const Vector vectors[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(sys::Sha256Hex(Bytes(v.message)), v.digest);
  }
  // Fed in uneven pieces, the million 'a' give the same digest as in one piece.
  const std::string million(1000000, 'a');
  sys::Sha256 hash;
  for (std::size_t at = 0, piece = 1; at < million.size(); at += piece, piece = piece % 97 + 1)
    hash.Update(Bytes(million.substr(at, std::min(piece, million.size() - at))));
  std::string hex;
  for (const std::uint8_t byte : hash.Finish()) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  EXPECT_EQ(hex, vectors[3].digest);
}

} // namespace
