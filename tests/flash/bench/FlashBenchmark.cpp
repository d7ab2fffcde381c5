// Figures of a whole flash of a 524288-byte image against the emulated drive, through the
// real drive layer: the CPU time with no modelled latency, and the wall time on a modelled
// ATAPI bus as a ratio to the least time that bus model allows.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/FlashProcedure.h"
#include "flash/UpdateQuestion.h"
#include "sim/EmulatedDrive.h"

namespace {

constexpr std::uint32_t kImageLength = 524288;

class SilentSink final : public flash::FlashSink {
public:
  void SetStatus(const std::string&) override {}
  void AppendStatus(const std::string&) override {}
  void SetProgressRange(std::uint32_t, std::uint32_t, std::uint32_t) override {}
  void SetProgressPosition(std::uint32_t) override {}
  void ShowMessage(const std::string& text, sys::MessageKind) override { failure = text; }
  // Yes to the update, No to the restart.
  bool Ask(const std::string&, sys::MessageKind) override { return true; }
  bool AskRestart(const std::string&) override { return false; }
  void SetBusy(bool) override {}
  void DriveRefreshed(const std::string&) override {}
  std::string failure;
};

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageLength);
  std::uint32_t seed = 1;
  for (auto& byte : image) byte = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  image[0x1100] = 0x05; // a CD-RW new-format image: the longest command sequence
  image[0x1101] = 0x80;
  image[0x4000] = image[0x4008] = 0;
  return image;
}

struct Bench {
  explicit Bench(unsigned latencyMicroseconds, std::uint64_t busBytesPerSecond) {
    sim::DriveConfig config;
    config.Medium = true;
    config.FlashId[0] = 0xBF;
    config.FlashId[1] = 0xB6;
    config.LatencyMicroseconds = latencyMicroseconds;
    config.BusBytesPerSecond = busBytesPerSecond;
    machine = std::make_shared<sim::SimMachine>(sim::SimConfig{config});
    drive::UseEmulatedDrives(machine);
    drives = std::make_unique<drive::CDDrives>();
    drive::CDDrive::SetBuffer(transfer.data(), static_cast<std::uint32_t>(transfer.size()));
    request.image = image;
    request.kind = payload::ImageKind::CdRwNewFormat;
    request.carriedRevision = "1.00";
  }
  ~Bench() {
    drives.reset();
    drive::ResetTransportState();
  }
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<drive::CDDrives> drives;
  std::array<std::uint8_t, flash::kChunkSize> transfer{};
  std::vector<std::uint8_t> image = Image();
  flash::FlashRequest request;
};

class NoSleep final : public sys::Sleeper {
public:
  void SleepMilliseconds(unsigned) override {}
};

void BM_FlashWholeImageCpu(benchmark::State& state) {
  Bench bench(0, 0);
  SilentSink sink;
  NoSleep sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  for (auto _ : state) {
    if (procedure.Run(*bench.drives->Current(), bench.request) != flash::FlashOutcome::Flashed) {
      state.SkipWithError(sink.failure.c_str());
      break;
    }
  }
}
BENCHMARK(BM_FlashWholeImageCpu)->Unit(benchmark::kMillisecond);

// 16.6 MB/s and 0.2 ms per command. The least time is the model's own bus and command time
// plus the protocol's 30 ms pause before the first readiness poll.
void BM_FlashWholeImageOnAtapiBus(benchmark::State& state) {
  Bench bench(200, 16600000);
  SilentSink sink;
  flash::FlashProcedure procedure(sink);
  double wallSeconds = 0;
  double leastSeconds = 0;
  for (auto _ : state) {
    const std::uint64_t modelledBefore = bench.machine->Drive(0).ModelledMicroseconds();
    const auto start = std::chrono::steady_clock::now();
    if (procedure.Run(*bench.drives->Current(), bench.request) != flash::FlashOutcome::Flashed) {
      state.SkipWithError(sink.failure.c_str());
      break;
    }
    wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    leastSeconds += (bench.machine->Drive(0).ModelledMicroseconds() - modelledBefore) / 1e6 +
                    flash::kReadyPollMilliseconds / 1e3;
  }
  if (leastSeconds > 0) state.counters["ratio_to_model"] = wallSeconds / leastSeconds;
  state.counters["model_ms"] = 1e3 * leastSeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FlashWholeImageOnAtapiBus)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
