#include "sim/SimConfig.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "sys/Files.h"

namespace sim {
namespace {

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The pieces of text between separators, as getline reads them: none for an empty text and
// none after a final separator. Plain splitting, since string streams would bring the
// locale machinery into every Windows program (and so into every flasher).
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find(separator, begin);
    if (end == std::string::npos) end = text.size();
    pieces.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return pieces;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ParseUnsigned(const std::string& text, std::uint64_t maximum, std::uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed > maximum) return false;
  value = parsed;
  return true;
}

bool ParseHexByte(const std::string& text, std::uint8_t& value) {
  if (text.size() != 2 || !std::isxdigit(static_cast<unsigned char>(text[0])) ||
      !std::isxdigit(static_cast<unsigned char>(text[1])))
    return false;
  value = static_cast<std::uint8_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

// "KK AA QQ": three two-digit hexadecimal bytes.
bool ParseSense(const std::string& text, Sense& sense) {
  std::vector<std::string> bytes;
  std::size_t at = 0;
  while (at < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    bytes.push_back(text.substr(at, end - at));
    at = end;
  }
  return bytes.size() == 3 && ParseHexByte(bytes[0], sense.Key) && ParseHexByte(bytes[1], sense.Asc) &&
         ParseHexByte(bytes[2], sense.Ascq);
}

// "OP:N", "OP:N:KK AA QQ" (Sense), "OP:N:SS" (Status) or "OP:N:BYTES" (Short), OP two hex
// digits or "*".
bool ParseFault(const std::string& text, FaultKind kind, CommandFault& fault) {
  const std::size_t first = text.find(':');
  if (first == std::string::npos) return false;
  const std::size_t second = text.find(':', first + 1);
  const std::string opcode = Trim(text.substr(0, first));
  const std::string nth =
      Trim(text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
  if (opcode != "*") {
    std::uint8_t value = 0;
    if (!ParseHexByte(opcode, value)) return false;
    fault.Opcode = value;
  }
  std::uint64_t count = 0;
  if (!ParseUnsigned(nth, 0xFFFFFFFFu, count) || count == 0) return false;
  fault.Nth = static_cast<unsigned>(count);
  fault.Kind = kind;
  const std::string detail = second == std::string::npos ? "" : Trim(text.substr(second + 1));
  switch (kind) {
  case FaultKind::Drop:
  case FaultKind::Timeout: return second == std::string::npos;
  case FaultKind::Sense: return ParseSense(detail, fault.Failure);
  case FaultKind::Status: return ParseHexByte(detail, fault.Status);
  case FaultKind::Short: {
    std::uint64_t bytes = 0;
    if (!ParseUnsigned(detail, 0xFFFFFFFFu, bytes)) return false;
    fault.Bytes = static_cast<std::uint32_t>(bytes);
    return true;
  }
  }
  return false;
}

// "OP:N:PATH": the path is the rest of the value, colons and commas included.
bool ParseHold(const std::string& text, DriveConfig& drive) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return false;
  CommandHold hold;
  const std::string opcode = Trim(text.substr(0, first));
  if (opcode != "*") {
    std::uint8_t value = 0;
    if (!ParseHexByte(opcode, value)) return false;
    hold.Opcode = value;
  }
  std::uint64_t count = 0;
  if (!ParseUnsigned(Trim(text.substr(first + 1, second - first - 1)), 0xFFFFFFFFu, count) || count == 0)
    return false;
  hold.Nth = static_cast<unsigned>(count);
  hold.ReleasePath = Trim(text.substr(second + 1));
  if (hold.ReleasePath.empty()) return false;
  drive.Hold = hold;
  return true;
}

bool ParseFaultList(const std::string& value, FaultKind kind, std::vector<CommandFault>& faults) {
  for (const std::string& item : Split(value, ',')) {
    CommandFault fault;
    if (!ParseFault(Trim(item), kind, fault)) return false;
    faults.push_back(fault);
  }
  return true;
}

bool ParseBool(const std::string& text, bool& value) {
  if (text == "1") value = true;
  else if (text == "0") value = false;
  else return false;
  return true;
}

template <std::size_t Limit> bool ParseText(const std::string& value, std::string& field) {
  if (value.size() > Limit) return false;
  field = value;
  return true;
}

template <typename Number, std::uint64_t Maximum>
bool ParseNumber(const std::string& value, Number& field) {
  std::uint64_t number = 0;
  if (!ParseUnsigned(value, Maximum, number)) return false;
  field = static_cast<Number>(number);
  return true;
}

template <typename Number, std::uint64_t Maximum>
bool ParseOptionalNumber(const std::string& value, std::optional<Number>& field) {
  Number number{};
  if (!ParseNumber<Number, Maximum>(value, number)) return false;
  field = number;
  return true;
}

template <FaultKind Kind> bool ParseFaults(const std::string& value, DriveConfig& drive) {
  return ParseFaultList(value, Kind, drive.Faults);
}

// The keys of a [DriveN] section, in the order the key list shows them. A key's name matches
// in any letter case; expected is what a bad value is told to be.
constexpr SimKey kSimKeys[] = {
    {"Vendor", "at most 8 characters", "INQUIRY vendor identification",
     [](const std::string& v, DriveConfig& d) { return ParseText<8>(v, d.Vendor); }},
    {"Product", "at most 16 characters", "INQUIRY product identification",
     [](const std::string& v, DriveConfig& d) { return ParseText<16>(v, d.Product); }},
    {"Revision", "at most 4 characters", "INQUIRY product revision level",
     [](const std::string& v, DriveConfig& d) { return ParseText<4>(v, d.Revision); }},
    {"FlashId", "8 hexadecimal digits", "the 4 flash chip ID bytes",
     [](const std::string& v, DriveConfig& d) {
       if (v.size() != 8) return false;
       for (int i = 0; i < 4; ++i)
         if (!ParseHexByte(v.substr(i * 2, 2), d.FlashId[i])) return false;
       return true;
     }},
    {"BecomingReadyPolls", "a number of polls", "TEST UNIT READY polls answered 02/04/01 after a load",
     [](const std::string& v, DriveConfig& d) { return ParseNumber<unsigned, 1000000>(v, d.BecomingReadyPolls); }},
    {"NeverReady", "1 or 0", "1: stays becoming ready for ever",
     [](const std::string& v, DriveConfig& d) { return ParseBool(v, d.NeverReady); }},
    {"Medium", "1 or 0", "1: a disc is in the drive",
     [](const std::string& v, DriveConfig& d) { return ParseBool(v, d.Medium); }},
    {"Letter", "one letter", "drive letter shown in the identity text (default: a space)",
     [](const std::string& v, DriveConfig& d) {
       if (v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0]))) return false;
       d.Letter = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
       return true;
     }},
    {"Adapter", "an adapter number up to 255", "the drive's adapter (default: its section number / 2)",
     [](const std::string& v, DriveConfig& d) { return ParseOptionalNumber<unsigned, 255>(v, d.Adapter); }},
    {"Target", "0 or 1", "the drive's target on its adapter (default: its section number % 2)",
     [](const std::string& v, DriveConfig& d) { return ParseOptionalNumber<unsigned, 1>(v, d.Target); }},
    {"Log", "a file path", "command log, appended one line per command",
     [](const std::string& v, DriveConfig& d) {
       d.LogPath = v;
       return !v.empty();
     }},
    {"StateFile", "a file path",
     "the drive's flash kept across processes: read when the drive starts, replaced after each commit",
     [](const std::string& v, DriveConfig& d) {
       d.StatePath = v;
       return !v.empty();
     }},
    {"FailCommand", "OP:N:KK AA QQ[, ...] (OP hex or *)",
     "opcode (or *) : Nth such command : the sense bytes it fails with",
     [](const std::string& v, DriveConfig& d) { return ParseFaults<FaultKind::Sense>(v, d); }},
    {"DropCommand", "OP:N[, ...] (OP hex or *)", "opcode (or *) : Nth such command fails in the transport, no sense",
     [](const std::string& v, DriveConfig& d) { return ParseFaults<FaultKind::Drop>(v, d); }},
    {"StatusCommand", "OP:N:SS[, ...] (OP hex or *, SS the status in hex)",
     "opcode (or *) : Nth such command ends with this SCSI status and no sense data",
     [](const std::string& v, DriveConfig& d) { return ParseFaults<FaultKind::Status>(v, d); }},
    {"TimeoutCommand", "OP:N[, ...] (OP hex or *)", "opcode (or *) : Nth such command is never answered",
     [](const std::string& v, DriveConfig& d) { return ParseFaults<FaultKind::Timeout>(v, d); }},
    {"ShortCommand", "OP:N:BYTES[, ...] (OP hex or *)",
     "opcode (or *) : Nth such command answers GOOD but moves only BYTES of its data in",
     [](const std::string& v, DriveConfig& d) { return ParseFaults<FaultKind::Short>(v, d); }},
    {"HoldCommand", "OP:N:PATH (OP hex or *)",
     "opcode (or *) : Nth such command : answered only once the file PATH exists",
     [](const std::string& v, DriveConfig& d) { return ParseHold(v, d); }},
    {"SenseFormat", "fixed or descriptor", "sense data format: fixed (70h) or descriptor (72h)",
     [](const std::string& v, DriveConfig& d) {
       if (Lower(v) != "fixed" && Lower(v) != "descriptor") return false;
       d.DescriptorSense = Lower(v) == "descriptor";
       return true;
     }},
    {"DeviceType", "INQUIRY byte 0 as two hexadecimal digits", "peripheral qualifier and device type",
     [](const std::string& v, DriveConfig& d) { return ParseHexByte(v, d.DeviceType); }},
    {"InquiryLength", "a number of bytes up to 255", "bytes of INQUIRY data the device returns at most",
     [](const std::string& v, DriveConfig& d) { return ParseNumber<unsigned, 255>(v, d.InquiryLength); }},
    {"CorruptReadAt", "a drive-memory offset", "READ BUFFER returns this drive-memory byte inverted",
     [](const std::string& v, DriveConfig& d) { return ParseOptionalNumber<std::uint32_t, 0xFFFFFF>(v, d.CorruptReadAt); }},
    {"FailCommit", "sense bytes KK AA QQ", "the commit answers with these sense bytes",
     [](const std::string& v, DriveConfig& d) {
       Sense sense;
       if (!ParseSense(v, sense)) return false;
       d.FailCommit = sense;
       return true;
     }},
    {"CommitMilliseconds", "a number of milliseconds", "time the drive takes to program its flash at the commit",
     [](const std::string& v, DriveConfig& d) { return ParseNumber<unsigned, 600000>(v, d.CommitMilliseconds); }},
    {"LatencyMicroseconds", "a number of microseconds", "modelled bus time per command",
     [](const std::string& v, DriveConfig& d) { return ParseNumber<unsigned, 60000000>(v, d.LatencyMicroseconds); }},
    {"BusBytesPerSecond", "a number of bytes per second",
     "modelled rate of the adapter's bus, shared by its drives (0: infinitely fast)",
     [](const std::string& v, DriveConfig& d) { return ParseNumber<std::uint64_t, ~0ull>(v, d.BusBytesPerSecond); }},
};

const SimKey* FindKey(const std::string& name) {
  for (const SimKey& key : kSimKeys)
    if (Lower(key.Name) == Lower(name)) return &key;
  return nullptr;
}

std::string KeyNames() {
  std::string names;
  for (const SimKey& key : kSimKeys) names += (names.empty() ? "" : ", ") + std::string(key.Name);
  return names;
}

// Drives on one adapter need distinct targets and one bus rate; fills in the default positions.
std::string CheckPositions(SimConfig& config) {
  std::map<std::pair<unsigned, unsigned>, std::size_t> taken;
  std::map<unsigned, std::uint64_t> rates;
  for (std::size_t i = 0; i < config.size(); ++i) {
    DriveConfig& drive = config[i];
    drive.Adapter = drive.Adapter.value_or(static_cast<unsigned>(i / 2));
    drive.Target = drive.Target.value_or(static_cast<unsigned>(i % 2));
    const std::string name = "[Drive" + std::to_string(i) + "]";
    const auto [place, fresh] = taken.emplace(std::pair{*drive.Adapter, *drive.Target}, i);
    if (!fresh)
      return name + " sits at adapter " + std::to_string(*drive.Adapter) + " target " +
             std::to_string(*drive.Target) + ", as [Drive" + std::to_string(place->second) + "] does";
    const auto [rate, first] = rates.emplace(*drive.Adapter, drive.BusBytesPerSecond);
    if (!first && rate->second != drive.BusBytesPerSecond)
      return name + " gives adapter " + std::to_string(*drive.Adapter) +
             " another BusBytesPerSecond than the drive before it on that adapter";
  }
  return {};
}

} // namespace

bool ParseSimConfig(const std::string& text, SimConfig& config, std::string& error) {
  SimConfig parsed;
  int lineNumber = 0;
  auto fail = [&](const std::string& what) {
    error = "line " + std::to_string(lineNumber) + ": " + what;
    return false;
  };
  for (std::string line : Split(text, '\n')) {
    ++lineNumber;
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("unterminated section header");
      const std::string section = Trim(line.substr(1, line.size() - 2));
      const std::string expected = "Drive" + std::to_string(parsed.size());
      if (Lower(section) != Lower(expected))
        return fail("expected section [" + expected + "], found [" + section + "]");
      parsed.emplace_back();
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return fail("expected Key=Value");
    if (parsed.empty()) return fail("key outside a [DriveN] section");
    std::string value = Trim(line.substr(equals + 1));
    // A trailing comment after the value, as in the sample files.
    const std::size_t comment = value.find(" ;");
    if (comment != std::string::npos) value = Trim(value.substr(0, comment));
    const std::string name = Trim(line.substr(0, equals));
    const SimKey* key = FindKey(name);
    if (key == nullptr) return fail("unknown key " + name + "; the keys are " + KeyNames());
    if (!key->Apply(value, parsed.back()))
      return fail("bad value for " + name + ": \"" + value + "\", expected " + key->Expected);
  }
  if (parsed.empty()) {
    lineNumber = 0;
    error = "no [Drive0] section";
    return false;
  }
  if (const std::string misplaced = CheckPositions(parsed); !misplaced.empty()) {
    error = misplaced;
    return false;
  }
  config = std::move(parsed);
  return true;
}

std::span<const SimKey> SimKeys() { return kSimKeys; }

bool LoadSimConfig(const std::string& path, SimConfig& config, std::string& error) {
  // Only a regular file of sane size: a FIFO would block, /dev/zero never end.
  std::string text;
  if (!sys::ReadRegularFile(path, kMaxSimFileBytes, text, error)) return false;
  if (!ParseSimConfig(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

} // namespace sim
