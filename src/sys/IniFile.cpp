#include "sys/IniFile.h"

#include "sys/Files.h"

#include <optional>
#include <vector>

namespace sys {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

struct Entry {
  std::string key;
  std::optional<std::string> value;  // empty for a line without '='
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

class PortableIniFile final : public IniFile {
public:
  explicit PortableIniFile(const std::string& text) { Parse(text); }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const override {
    for (const Section& candidate : sections_) {
      if (!EqualNoCase(candidate.name, section)) continue;
      for (const Entry& entry : candidate.entries) {
        if (!EqualNoCase(entry.key, key)) continue;
        if (!entry.value) return defaultValue;
        // The system's reader hands values over as C strings: a NUL ends them.
        const std::string value = Unquote(*entry.value);
        return value.substr(0, value.find('\0'));
      }
      return defaultValue;
    }
    return defaultValue;
  }

private:
  static std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      return value.substr(1, value.size() - 2);
    return value;
  }

  void Parse(const std::string& text) {
    sections_.push_back({});  // keys before the first section header
    static constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
    std::size_t at = text.compare(0, 3, kUtf8ByteOrderMark) == 0 ? 3 : 0;
    while (at < text.size()) {
      std::size_t end = text.find_first_of("\r\n", at);
      if (end == std::string::npos) end = text.size();
      ParseLine(Trim(text.substr(at, end - at)));
      at = end;
      if (at < text.size() && text[at] == '\r') ++at;
      if (at < text.size() && text[at] == '\n') ++at;
    }
  }

  void ParseLine(const std::string& line) {
    if (line.empty()) return;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string::npos) {
        sections_.push_back({Trim(line.substr(1, close - 1)), {}});
        return;
      }
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      sections_.back().entries.push_back({line, std::nullopt});
    } else {
      sections_.back().entries.push_back(
          {Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }
  }

  std::vector<Section> sections_;
};

} // namespace

std::unique_ptr<IniFile> OpenPortableIniFile(const std::string& path) {
  std::string text, error;
  if (!ReadRegularFile(path, kMaxIniFileBytes, text, error)) text.clear();
  return std::make_unique<PortableIniFile>(text);
}

} // namespace sys
