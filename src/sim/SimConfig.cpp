#include "sim/SimConfig.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

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

// "OP:N", "OP:N:KK AA QQ" (Sense) or "OP:N:SS" (Status), OP two hex digits or "*".
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
  }
  return false;
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

// Applies one key; returns a description of the expected value on failure, empty on success.
std::string ApplyKey(const std::string& key, const std::string& value, DriveConfig& drive) {
  const std::string name = Lower(key);
  std::uint64_t number = 0;
  if (name == "vendor") {
    if (value.size() > 8) return "at most 8 characters";
    drive.Vendor = value;
  } else if (name == "product") {
    if (value.size() > 16) return "at most 16 characters";
    drive.Product = value;
  } else if (name == "revision") {
    if (value.size() > 4) return "at most 4 characters";
    drive.Revision = value;
  } else if (name == "flashid") {
    if (value.size() != 8) return "8 hexadecimal digits";
    for (int i = 0; i < 4; ++i)
      if (!ParseHexByte(value.substr(i * 2, 2), drive.FlashId[i])) return "8 hexadecimal digits";
  } else if (name == "becomingreadypolls") {
    if (!ParseUnsigned(value, 1000000, number)) return "a number of polls";
    drive.BecomingReadyPolls = static_cast<unsigned>(number);
  } else if (name == "neverready") {
    if (!ParseBool(value, drive.NeverReady)) return "1 or 0";
  } else if (name == "medium") {
    if (!ParseBool(value, drive.Medium)) return "1 or 0";
  } else if (name == "letter") {
    if (value.size() != 1 || !std::isalpha(static_cast<unsigned char>(value[0]))) return "one letter";
    drive.Letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
  } else if (name == "log") {
    if (value.empty()) return "a file path";
    drive.LogPath = value;
  } else if (name == "failcommand") {
    if (!ParseFaultList(value, FaultKind::Sense, drive.Faults)) return "OP:N:KK AA QQ[, ...] (OP hex or *)";
  } else if (name == "dropcommand") {
    if (!ParseFaultList(value, FaultKind::Drop, drive.Faults)) return "OP:N[, ...] (OP hex or *)";
  } else if (name == "statuscommand") {
    if (!ParseFaultList(value, FaultKind::Status, drive.Faults)) return "OP:N:SS[, ...] (OP hex or *, SS the status in hex)";
  } else if (name == "timeoutcommand") {
    if (!ParseFaultList(value, FaultKind::Timeout, drive.Faults)) return "OP:N[, ...] (OP hex or *)";
  } else if (name == "senseformat") {
    if (Lower(value) != "fixed" && Lower(value) != "descriptor") return "fixed or descriptor";
    drive.DescriptorSense = Lower(value) == "descriptor";
  } else if (name == "devicetype") {
    if (!ParseHexByte(value, drive.DeviceType)) return "INQUIRY byte 0 as two hexadecimal digits";
  } else if (name == "inquirylength") {
    if (!ParseUnsigned(value, 255, number)) return "a number of bytes up to 255";
    drive.InquiryLength = static_cast<unsigned>(number);
  } else if (name == "corruptreadat") {
    if (!ParseUnsigned(value, 0xFFFFFF, number)) return "a drive-memory offset";
    drive.CorruptReadAt = static_cast<std::uint32_t>(number);
  } else if (name == "failcommit") {
    Sense sense;
    if (!ParseSense(value, sense)) return "sense bytes KK AA QQ";
    drive.FailCommit = sense;
  } else if (name == "latencymicroseconds") {
    if (!ParseUnsigned(value, 60000000, number)) return "a number of microseconds";
    drive.LatencyMicroseconds = static_cast<unsigned>(number);
  } else if (name == "busbytespersecond") {
    if (!ParseUnsigned(value, ~0ull, number)) return "a number of bytes per second";
    drive.BusBytesPerSecond = number;
  } else {
    return "a known key (unknown key)";
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
    const std::string key = Trim(line.substr(0, equals));
    const std::string expected = ApplyKey(key, value, parsed.back());
    if (!expected.empty()) return fail("bad value for " + key + ": \"" + value + "\", expected " + expected);
  }
  if (parsed.empty()) {
    lineNumber = 0;
    error = "no [Drive0] section";
    return false;
  }
  config = std::move(parsed);
  return true;
}

bool LoadSimConfig(const std::string& path, SimConfig& config, std::string& error) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot open emulated drive file " + path;
    return false;
  }
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) text.append(buffer, got);
  if (!ParseSimConfig(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

} // namespace sim
