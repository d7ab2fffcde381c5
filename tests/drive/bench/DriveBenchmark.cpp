// Cost of one emulated command round trip through CDDrive::Execute: the drive layer, the
// emulated transport and the emulated drive, 16 KiB per command, with no modelled bus time.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "drive/Cddrive.h"
#include "drive/Transport.h"
#include "sim/EmulatedDrive.h"
#include "sys/Messages.h"

namespace {

class Silent final : public sys::MessagePresenter {
public:
  sys::MessageAnswer Show(const std::string&, sys::MessageKind, sys::MessageButtons) override {
    return sys::MessageAnswer::Ok;
  }
};

void RoundTrip(benchmark::State& state, std::uint8_t opcode) {
  Silent silent;
  sys::SetMessages(&silent);
  drive::ResetTransportState();
  drive::UseEmulatedDrives(sim::SimMachine::FromIni("[Drive0]\n"));
  static std::uint8_t buffer[16384];
  {
    drive::CDDrive drive(' ', 0, 0, 0);
    drive::CDDrive::SetBuffer(buffer, sizeof buffer);
    std::uint32_t offset = 0;
    for (auto _ : state) {
      const std::uint8_t mode = opcode == 0x3B ? 0x05 : 0x01;
      const int result = drive.Execute(opcode, mode, 0x01, static_cast<std::uint8_t>(offset >> 16),
                                       static_cast<std::uint8_t>(offset >> 8), 0, 0, 0x40, 0x00, 0, 0, 0,
                                       opcode == 0x3B ? 0 : 1, sizeof buffer);
      benchmark::DoNotOptimize(result);
      offset = (offset + 0x4000) % 0x80000;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof buffer));
  }
  drive::ResetTransportState();
  sys::SetMessages(nullptr);
}

void WriteBuffer16K(benchmark::State& state) { RoundTrip(state, 0x3B); }
void ReadBuffer16K(benchmark::State& state) { RoundTrip(state, 0x3C); }

BENCHMARK(WriteBuffer16K);
BENCHMARK(ReadBuffer16K);

} // namespace

BENCHMARK_MAIN();
