// The stand-in ASPI layer. Requests are completed on a worker thread, as the real layer does:
// SendASPI32Command returns SS_PENDING at once, and the worker fills in status and sense and
// then signals the request's event. Configuration errors are written to standard error and make
// GetASPI32SupportInfo report SS_NO_ASPI.
//
// ODFLASH_ASPI_SHORT says how a data-in command that moved fewer bytes than asked is reported,
// as the real layers differ: unset, SS_COMP and nothing more; "underrun", SS_ERR with host
// status 12h (data over/underrun) and GOOD target status; "residual", SS_COMP, and the adapter
// inquiry announces residual counts, returned in SRB_BufLen when the request asks for them.

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "aspi/AspiInterface.h"
#include "sim/EmulatedDrive.h"

namespace {

// Wine runs Windows programs with Unix paths at drive Z:.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string converted = "Z:" + path;
  for (char& c : converted)
    if (c == '/') c = '\\';
  return converted;
}

class StandIn {
public:
  static StandIn& Instance() {
    static auto* instance = new StandIn; // lives as long as the pinned module
    return *instance;
  }

  // Loads the configuration once; false when ODFLASH_SIM is unset or its file is bad.
  bool Ready() {
    std::lock_guard lock(mutex_);
    if (!loaded_) {
      loaded_ = true;
      char path[MAX_PATH * 2];
      const DWORD length = GetEnvironmentVariableA("ODFLASH_SIM", path, sizeof path);
      sim::SimConfig config;
      std::string error = "ODFLASH_SIM is not set";
      if (length > 0 && length < sizeof path && sim::LoadSimConfig(WindowsPath(path), config, error)) {
        for (sim::DriveConfig& drive : config) drive.LogPath = WindowsPath(drive.LogPath);
        machine_ = sim::SimMachine::Create(config, error);
      }
      if (!machine_) std::fprintf(stderr, "WNASPI32.DLL: %s\n", error.c_str());
      char shortMode[16] = {};
      if (GetEnvironmentVariableA("ODFLASH_ASPI_SHORT", shortMode, sizeof shortMode) < sizeof shortMode) {
        underrun_ = std::strcmp(shortMode, "underrun") == 0;
        residual_ = std::strcmp(shortMode, "residual") == 0;
      }
    }
    return machine_ != nullptr;
  }

  std::uint32_t AdapterCount() {
    return Ready() ? machine_->AdapterCount() : 0;
  }

  // The adapter inquiry, completed at once.
  std::uint32_t InquireAdapter(aspi::SrbHaInquiry& inquiry) {
    if (!Ready()) return inquiry.SRB_Status = aspi::kSsNoAspi;
    inquiry.HA_Count = static_cast<std::uint8_t>(AdapterCount());
    std::memcpy(inquiry.HA_ManagerId, "ODFLASH STAND-IN", 16);
    if (residual_) inquiry.HA_Unique[aspi::kHaUniqueResidualByte] = aspi::kHaUniqueResidualSupported;
    return inquiry.SRB_Status = aspi::kSsComp;
  }

  std::uint32_t Send(aspi::SrbExecScsiCmd* srb) {
    if (srb != nullptr && srb->SRB_Cmd == aspi::kScHaInquiry)
      return InquireAdapter(*reinterpret_cast<aspi::SrbHaInquiry*>(srb));
    if (srb == nullptr || srb->SRB_Cmd != aspi::kScExecScsiCmd) {
      if (srb != nullptr) srb->SRB_Status = aspi::kSsInvalidSrb;
      return aspi::kSsInvalidSrb;
    }
    if (!Ready()) return srb->SRB_Status = aspi::kSsNoAspi;
    // The worker signals its own duplicate of the event: the caller may close its handle as
    // soon as it sees the status complete, and must never have a reused handle signalled.
    HANDLE event = nullptr;
    if ((srb->SRB_Flags & aspi::kSrbEventNotify) != 0 && srb->SRB_PostProc != nullptr)
      DuplicateHandle(GetCurrentProcess(), srb->SRB_PostProc, GetCurrentProcess(), &event, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    srb->SRB_Status = aspi::kSsPending;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({srb, event});
      if (!workerStarted_) {
        workerStarted_ = true;
        PinModule();
        std::thread([this] { Work(); }).detach();
      }
    }
    wake_.notify_one();
    return aspi::kSsPending;
  }

private:
  // Once the worker runs, the module must stay loaded until the process ends.
  static void PinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&StandIn::Instance), &self);
  }

  void Work() {
    for (;;) {
      Pending pending;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        pending = queue_.front();
        queue_.pop_front();
      }
      Complete(*pending.srb, pending.event);
    }
  }

  void Complete(aspi::SrbExecScsiCmd& srb, HANDLE event) {
    const std::size_t index = machine_->IndexAt(srb.SRB_HaId, srb.SRB_Target);
    std::uint8_t status = aspi::kSsNoDevice;
    if (srb.SRB_Lun == 0 && index < machine_->Count()) {
      std::uint8_t cdb[12];
      std::memcpy(cdb, srb.CDBByte, sizeof cdb);
      const bool dataIn = (srb.SRB_Flags & aspi::kSrbDirIn) != 0;
      const sim::CommandResult result =
          machine_->Drive(index).Execute(cdb, dataIn, srb.SRB_BufPointer, srb.SRB_BufLen);
      if (!result.Delivered) {
        status = aspi::kSsErr;
        srb.SRB_HaStat = aspi::kHaStatSelectionTimeout; // nothing answered
      } else if (result.TimedOut) {
        status = aspi::kSsErr;
        srb.SRB_HaStat = aspi::kHaStatCommandTimeout;
      } else {
        srb.SRB_TargStat = result.Status;
        const std::size_t senseLength =
            std::min({std::size_t{srb.SRB_SenseLen}, sizeof srb.SenseArea, std::size_t{result.SenseLength}});
        std::memcpy(srb.SenseArea, result.SenseData.data(), senseLength);
        status = result.Status == 0 ? aspi::kSsComp : aspi::kSsErr;
        const bool shortIn = dataIn && result.Status == 0 && result.Transferred < srb.SRB_BufLen;
        if (shortIn && underrun_) {
          status = aspi::kSsErr;
          srb.SRB_HaStat = aspi::kHaStatDataOverUnderrun;
        }
        if (residual_ && (srb.SRB_Flags & aspi::kSrbEnableResidualCount) != 0)
          srb.SRB_BufLen = dataIn && result.Transferred < srb.SRB_BufLen ? srb.SRB_BufLen - result.Transferred : 0;
      }
    }
    // The status is the last write to the request: the caller may free it as soon as it sees it.
    reinterpret_cast<volatile std::uint8_t&>(srb.SRB_Status) = status;
    if (event != nullptr) {
      SetEvent(event);
      CloseHandle(event);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  struct Pending {
    aspi::SrbExecScsiCmd* srb = nullptr;
    HANDLE event = nullptr; // the worker's own duplicate of the request's event
  };
  std::deque<Pending> queue_;
  bool workerStarted_ = false;
  bool loaded_ = false;
  bool underrun_ = false; // report a short data-in transfer as a data underrun
  bool residual_ = false; // report residual counts
  std::shared_ptr<sim::SimMachine> machine_;
};

} // namespace

extern "C" {

__declspec(dllexport) DWORD GetASPI32SupportInfo() {
  StandIn& standIn = StandIn::Instance();
  if (!standIn.Ready()) return DWORD{aspi::kSsNoAspi} << 8;
  return (DWORD{aspi::kSsComp} << 8) | (standIn.AdapterCount() & 0xFF);
}

__declspec(dllexport) DWORD SendASPI32Command(void* request) {
  return StandIn::Instance().Send(static_cast<aspi::SrbExecScsiCmd*>(request));
}

// Tells the drive layer that the drives behind this library are emulated.
__declspec(dllexport) DWORD OdflashEmulatedDrives() { return 1; }

} // extern "C"
