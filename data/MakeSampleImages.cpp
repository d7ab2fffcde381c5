// odflash-sample-images DIR: writes the sample firmware files into DIR (run at build time).

#include <cstdio>
#include <string>

#include "SampleImages.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: odflash-sample-images DIR\n");
    return 2;
  }
  for (const samples::SampleFile& sample : samples::kSampleFiles) {
    const std::string name = sample.Name;
    const std::string path = std::string(argv[1]) + "/" + name;
    const auto image = samples::MakeSampleImage(sample.Kind, name.substr(0, 4));
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      std::fprintf(stderr, "odflash-sample-images: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
