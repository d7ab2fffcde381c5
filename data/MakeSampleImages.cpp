// odflash-sample-images DIR: writes the sample firmware files into DIR (run at build time), and
// filler.ROUTINES: a routine store of filler bytes laid out as the profile table expects, which
// the builder accepts. It holds no flash routine: the tests build flashers with it for drives
// emulated behind a real device, never for hardware.

#include <cstdio>
#include <string>

#include "SampleImages.h"
#include "payload/RoutineStore.h"

namespace {

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const bool written = file != nullptr && std::fwrite(data, 1, length, file) == length;
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "odflash-sample-images: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: odflash-sample-images DIR\n");
    return 2;
  }
  for (const samples::SampleFile& sample : samples::kSampleFiles) {
    const std::string name = sample.Name;
    const std::string path = std::string(argv[1]) + "/" + name;
    const auto image = samples::MakeSampleImage(sample.Kind, name.substr(0, 4));
    if (!WriteFile(path, image.data(), image.size())) return 1;
  }
  const auto filler = payload::MakeFillerRoutineStore(0xF111E5u);
  return WriteFile(std::string(argv[1]) + "/filler.ROUTINES", filler.data(), filler.size()) ? 0 : 1;
}
