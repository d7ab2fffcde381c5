#pragma once
// Reading of INI files (private profiles). On Windows OpenIniFile uses the system's own
// reader; elsewhere it is OpenPortableIniFile, our reader with the same observable behaviour:
// section and key names match without regard to case, names and values are trimmed, one pair
// of matching surrounding quotes is removed from a value, the first '=' splits a line, the first
// of duplicate keys wins, a line without '=' gives the default, "key=" gives an empty value,
// CR, LF and CRLF all end a line, a UTF-8 byte-order mark at the start is skipped, and a NUL
// ends the value it stands in.

#include <cstdint>
#include <memory>
#include <string>

namespace sys {

class IniFile {
public:
  virtual ~IniFile() = default;
  // The value of key in section, or defaultValue when either is absent.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const = 0;
};

// The longest INI file read; a longer one reads as empty.
inline constexpr std::uint64_t kMaxIniFileBytes = 1u << 20;

// The platform's reader. A file that cannot be read reads as empty (every key gives the
// default), as the system's reader does.
std::unique_ptr<IniFile> OpenIniFile(const std::string& path);

// Our own reader, available on every platform (so that both can be compared on Windows).
std::unique_ptr<IniFile> OpenPortableIniFile(const std::string& path);

} // namespace sys
