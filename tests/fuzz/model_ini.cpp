// The model file beside a builder: the portable INI reader and the model table over it.
//
// Input: the INI file's bytes as they are.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "builder/ModelTable.h"
#include "sys/IniFile.h"

namespace {

char AsciiCase(char c, bool upper) {
  if (upper && c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (!upper && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

std::string WithCase(std::string text, bool upper) {
  for (char& c : text) c = AsciiCase(c, upper);
  return text;
}

// Names to ask for, taken from the text itself so that the lookups hit: what stands between
// '[' and ']' and before '=' on the first lines.
void CandidateNames(const std::string& text, std::vector<std::string>& sections,
                    std::vector<std::string>& keys) {
  std::size_t at = 0;
  for (int line = 0; line < 32 && at < text.size(); ++line) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string content = text.substr(at, end - at);
    const std::size_t open = content.find('['), close = content.rfind(']');
    if (open != std::string::npos && close != std::string::npos && close > open)
      sections.push_back(content.substr(open + 1, close - open - 1));
    const std::size_t equals = content.find('=');
    if (equals != std::string::npos) keys.push_back(content.substr(0, equals));
    at = end + 1;
  }
}

void CheckReader(const std::string& path, const std::string& text) {
  const std::unique_ptr<sys::IniFile> ini = sys::OpenPortableIniFile(path);
  std::vector<std::string> sections{"", "MODEL00"}, keys{"Model", ""};
  CandidateNames(text, sections, keys);
  static const std::string kDefault = "\n-default-\n";
  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      const std::string value = ini->ReadString(section, key, kDefault);
      if (value == kDefault) continue;
      // A value lies within one line and is trimmed (quotes may keep inner blanks).
      FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
      FUZZ_CHECK(value.size() <= text.size());
      // Names match without regard to the case of ASCII letters.
      FUZZ_CHECK(ini->ReadString(WithCase(section, true), WithCase(key, false), kDefault) == value);
    }
  }
}

void CheckTable(const std::string& path) {
  const builder::ModelTableLoad load = builder::LoadModelTable(path);
  const builder::ModelTable& table = load.Table;
  const std::size_t count = table.Count();
  if (!load.Loaded) {
    FUZZ_CHECK(count == 0);
    const std::string& message = load.Message;
    FUZZ_CHECK(message.rfind(path + " > Session MODEL", 0) == 0);
    FUZZ_CHECK(message.size() > 7 && message.compare(message.size() - 7, 7, " error!") == 0);
    return;
  }
  FUZZ_CHECK(count >= 1 && count <= static_cast<std::size_t>(builder::kMaxModels));
  for (const builder::ModelSection& section : table.Sections) {
    const builder::ModelEntry& entry = section.Entry;
    FUZZ_CHECK(entry.Model.size() <= 24 && entry.FirmwareRange.size() <= 24);
    FUZZ_CHECK(entry.Vendor.size() <= 24 && entry.Note.size() <= 24);
    FUZZ_CHECK(entry.Inquiry.size() == 24);
    // "FAIL" counts as missing, so no stored value can be exactly that.
    FUZZ_CHECK(entry.Model != "FAIL" && section.BINMask != "FAIL");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzzsupport::ScratchDir::Get().Write("BUILDER.INI", data, size);
  CheckReader(path, text);
  CheckTable(path);
  return 0;
}
