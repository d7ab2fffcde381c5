#include <gtest/gtest.h>

#include "BuilderTestSupport.h"
#include "builder/MarkerSearch.h"

namespace {

using buildertest::Bytes;

// Where the search ends (index just past the marker's last byte), fed in chunks of every size
// from 1 byte up: chunking must not change the answer. npos: not found.
std::size_t SearchEnd(const Bytes& stream, std::size_t chunk) {
  builder::MarkerSearch search(payload::OwnPayloadBlock().Marker());
  std::size_t at = 0;
  while (at < stream.size() && !search.Found()) {
    const std::size_t length = std::min(chunk, stream.size() - at);
    at += search.Feed(stream.data() + at, length);
  }
  return search.Found() ? at : std::string::npos;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(MarkerSearch, FindsTheFirstCompleteMarkerWhateverTheChunking) {
  const Bytes marker = buildertest::Marker();
  const Bytes head(marker.begin(), marker.begin() + 2);
  const Bytes noNul(marker.begin(), marker.end() - 1);
  const struct {
    const char* label;
    Bytes stream;
    std::size_t end;
  } cases[] = {
      {"marker alone", marker, 15},
      {"after other bytes", Join({{'a', 'b', 'c'}, marker}), 18},
      {"first of two", Join({marker, marker}), 15},
      {"partial match first", Join({head, {'x'}, marker}), 18},
      {"without its NUL", Join({noNul, {'x'}}), std::string::npos},
      // The mismatching byte may start the marker itself: a '{' just before the block must not
      // hide it (an unstripped program's debug copy further on would be patched instead).
      {"restart on the mismatching byte", Join({head, marker}), 17},
      {"brace before the block, copy after", Join({{'{'}, marker, {'x'}, marker}), 16},
      {"empty", {}, std::string::npos},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{64}}) {
      EXPECT_EQ(SearchEnd(c.stream, chunk), c.end) << c.label << ", chunk " << chunk;
    }
  }
}

// A marker that overlaps itself: after a mismatch the search falls back to the longest part
// still matching instead of starting over.
TEST(MarkerSearch, FallsBackToTheLongestMatchingPart) {
  const Bytes marker = {'a', 'a', 'b', 'a', 'a', 'c'};
  const struct {
    Bytes stream;
    std::size_t end;
  } cases[] = {
      {{'a', 'a', 'a', 'b', 'a', 'a', 'c'}, 7},
      {{'a', 'a', 'b', 'a', 'a', 'b', 'a', 'a', 'c'}, 9},
      {{'a', 'a', 'b', 'a', 'a', 'a', 'b', 'a', 'a', 'c'}, 10},
      {{'a', 'a', 'b', 'a', 'a', 'b'}, std::string::npos},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{4}, std::size_t{64}}) {
      builder::MarkerSearch search(marker);
      std::size_t at = 0;
      while (at < c.stream.size() && !search.Found())
        at += search.Feed(c.stream.data() + at, std::min(chunk, c.stream.size() - at));
      EXPECT_EQ(search.Found() ? at : std::string::npos, c.end) << "chunk " << chunk;
    }
  }
}

} // namespace
