#include "builder/ModelTable.h"

#include <cstdio>
#include <memory>

#include "payload/PayloadTexts.h"
#include "sys/Files.h"
#include "sys/IniFile.h"

namespace builder {
namespace {

constexpr const char* kMissing = "FAIL";

std::string SectionName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "%5.5s%02d", "MODEL", number);
  return name;
}

std::string Cut24(const std::string& value) { return value.substr(0, 24); }

} // namespace

std::string FileBesideProgram(const std::string& programPath, const std::string& extension) {
  const std::string name = sys::FileNameOf(programPath);
  const std::size_t dot = name.rfind('.');
  const std::string stem =
      dot == std::string::npos ? programPath : programPath.substr(0, programPath.size() - name.size() + dot);
  return stem + extension;
}

std::string ModelFileName(const std::string& programPath) { return FileBesideProgram(programPath, ".INI"); }

ModelTableLoad LoadModelTable(const std::string& iniPath) {
  ModelTableLoad load;
  {
    // Only a regular file of sane size: a FIFO would block the reader, a device never end.
    std::uint64_t size = 0;
    if (!sys::OpenRegularFile(iniPath, sys::kMaxIniFileBytes, size, load.Reason)) {
      load.Message = "Can't load " + iniPath;
      return load;
    }
  }
  const std::unique_ptr<sys::IniFile> ini = sys::OpenIniFile(iniPath);
  for (int number = 0; number < kMaxModels; ++number) {
    const std::string section = SectionName(number);
    auto read = [&](const char* key) { return ini->ReadString(section, key, kMissing); };
    const std::string model = read("Model");
    const std::string inquiry = read("Inquiry");
    const std::string range = read("FW-Range");
    const std::string mask = read("BINMask");
    const std::string vendor = read("Vendor");
    const std::string note = read("Note");
    const bool rejected = model == kMissing ? number == 0
                                            : inquiry == kMissing || range == kMissing ||
                                                  mask == kMissing || vendor == kMissing ||
                                                  note == kMissing;
    if (rejected) {
      load.Table = {};
      load.Message = iniPath + " > Session " + section + " error!";
      return load;
    }
    if (model == kMissing) break;
    load.Table.Sections.push_back(
        {{Cut24(model), payload::FormatLeftAligned(inquiry, 24), Cut24(range), Cut24(vendor),
          Cut24(note)},
         mask,
         range + " " + inquiry});
  }
  load.Loaded = true;
  return load;
}

} // namespace builder
