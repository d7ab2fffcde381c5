#pragma once
// Helpers shared by the builder tests: a scratch folder, whole-file reads and writes, a sink
// that records what a build shows, and synthetic program files carrying a payload block.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../payload/PayloadTestSupport.h"
#include "builder/FlasherWriter.h"
#include "payload/PayloadBlock.h"

namespace buildertest {

using payloadtest::Bytes;
using payloadtest::Marker;
using payloadtest::ReadFile;

class ScratchDir {
public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("odflash-builder-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  std::string Path(const std::string& name = {}) const {
    return name.empty() ? path_.string() : (path_ / name).string();
  }
  // Names of the files now in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes Pattern(std::size_t length, std::uint32_t seed) {
  Bytes bytes(length);
  for (auto& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

// A program file: prefix, the block as a builder carries it (marker, zero header, image region
// starting with the builder tag), suffix. regionLength below the capacity cuts the file short.
inline Bytes MakeProgram(const Bytes& prefix, std::size_t regionLength = payload::kImageCapacity,
                         std::size_t suffixLength = 3000) {
  Bytes program = prefix;
  const Bytes marker = Marker();
  program.insert(program.end(), marker.begin(), marker.end());
  program.resize(program.size() + payload::kHeaderLength, 0);
  Bytes region = Pattern(regionLength, 7);
  for (std::size_t i = 0; i < payload::kBuilderTagLength && i < region.size(); ++i)
    region[i] = static_cast<std::uint8_t>(payload::kBuilderTag[i]);
  program.insert(program.end(), region.begin(), region.end());
  if (regionLength == payload::kImageCapacity) {
    const Bytes suffix = Pattern(suffixLength, 11);
    program.insert(program.end(), suffix.begin(), suffix.end());
  }
  return program;
}

class RecordingSink final : public builder::BuildSink {
public:
  void SetGroupCaption(const std::string& caption) override { Captions.push_back(caption); }
  void SetupProgress(std::uint64_t maximum, std::uint32_t step) override {
    ProgressMaximum = maximum;
    ProgressStep = step;
  }
  void StepProgress(std::uint64_t steps) override { Steps += steps; }
  void SetProgressPosition(std::uint64_t position) override { Positions.push_back(position); }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }

  std::vector<std::string> Captions;
  std::vector<std::string> Messages;
  std::vector<std::uint64_t> Positions;
  std::uint64_t ProgressMaximum = 0;
  std::uint32_t ProgressStep = 0;
  std::uint64_t Steps = 0;
};

} // namespace buildertest
