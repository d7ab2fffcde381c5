// Replays fuzz inputs without libFuzzer: every file of the folders (or the files) named on the
// command line goes once through the harness's LLVMFuzzerTestOneInput. A broken invariant or a
// sanitizer report aborts, which fails the test. Files whose names start with '.' or "README"
// are notes, not inputs.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool IsInput(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  return std::filesystem::is_regular_file(path) && name.rfind('.', 0) != 0 && name.rfind("README", 0) != 0;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path named = argv[i];
    if (std::filesystem::is_directory(named)) {
      for (const auto& entry : std::filesystem::directory_iterator(named))
        if (IsInput(entry.path())) inputs.push_back(entry.path());
    } else if (std::filesystem::exists(named)) {
      inputs.push_back(named);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay: a harness's corpus must not be empty\n");
    return 1;
  }
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s (%zu bytes)\n", path.string().c_str(), bytes.size());
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const std::uint8_t kNoBytes = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNoBytes : bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
