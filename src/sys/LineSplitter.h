#pragma once

#include <cstddef>
#include <string>

namespace sys {

// Splits the bytes a pipe delivers into lines. The last line may lack its newline; a CR before
// the newline (a Windows program's line end) is dropped.
class LineSplitter {
public:
  // read(buffer, size) returns how many bytes it read: 0 at the end of the stream or on an error.
  template <class Read>
  bool Next(std::string& line, Read&& read) {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      char chunk[4096];
      const std::size_t got = read(chunk, sizeof chunk);
      if (got == 0) {
        if (pending_.empty()) return false;
        line.swap(pending_);
        pending_.clear();
        return true;
      }
      pending_.append(chunk, got);
    }
  }

private:
  std::string pending_;
};

} // namespace sys
