// The emulated drive behind a real SCSI device: serves the command ring of the kernel's
// user-space SCSI backstore (target_core_user, /dev/uioN) with drive 0 of an emulated-drive INI,
// the same model, faults, timing and command log as odflash --sim. Runs inside the test guest.
//
// Usage: drive_tcmu_handler /dev/uioN DRIVE_INI HOLD_SECONDS
// A command that the INI makes time out (or drop) is held HOLD_SECONDS before it is answered,
// so that the caller's time-out expires first.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// linux/uio.h's struct iovec clashes with glibc's; the ring only needs the layout, which is
// the same.
#define __LINUX_UIO_H
#include <sys/uio.h>
#include <linux/target_core_user.h>

#include "sim/EmulatedDrive.h"

namespace {

constexpr std::size_t kCdbLength = 12;

// The direction of a command's data. The ring does not carry it; a drive knows it from its own
// command set, and so does this one. Commands without data count as data in, as odflash sends
// them.
// The CDB length the kernel puts in the ring: by opcode group, as its scsi_command_size does
// (a vendor opcode C0h-FFh arrives as 10 bytes; the rest of odflash's 12 bytes are zero).
std::size_t RingCdbLength(std::uint8_t opcode) {
  constexpr std::size_t kGroupLengths[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  return std::min(kGroupLengths[opcode >> 5], kCdbLength);
}

bool IsDataIn(const std::uint8_t (&cdb)[kCdbLength], std::uint32_t length) {
  constexpr std::uint8_t kWriteBuffer = 0x3B;
  constexpr std::uint8_t kFlashControl = 0x80, kFlashAllControl = 0xA0;
  if (length == 0) return true;
  if (cdb[0] != kWriteBuffer) return true; // INQUIRY, READ BUFFER, the vendor reads
  return cdb[9] == kFlashControl || cdb[9] == kFlashAllControl; // the commit returns 16 bytes
}

std::size_t MapSize(const std::string& uioPath) {
  const std::string name = uioPath.substr(uioPath.rfind('/') + 1);
  std::ifstream file("/sys/class/uio/" + name + "/maps/map0/size");
  std::string text;
  if (!(file >> text)) throw std::runtime_error("no map size for " + uioPath);
  return std::stoul(text, nullptr, 0);
}

class RingServer {
public:
  RingServer(const std::string& uioPath, sim::EmulatedDrive& drive, unsigned holdSeconds)
      : drive_(drive), holdSeconds_(holdSeconds) {
    fd_ = ::open(uioPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + uioPath + ": " + std::strerror(errno));
    size_ = MapSize(uioPath);
    void* map = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) throw std::runtime_error(std::string("mmap: ") + std::strerror(errno));
    base_ = static_cast<std::uint8_t*>(map);
    mailbox_ = reinterpret_cast<tcmu_mailbox*>(base_);
  }

  // Serves what is queued, then every wake-up of the kernel, for ever.
  [[noreturn]] void Run() {
    for (;;) {
      if (ServeQueued()) {
        std::uint32_t signal = 0;
        if (::write(fd_, &signal, sizeof signal) != sizeof signal) std::perror("write uio");
      }
      std::uint32_t events = 0;
      if (::read(fd_, &events, sizeof events) != sizeof events) std::perror("read uio");
    }
  }

private:
  // True when an entry was completed (the kernel must then be told).
  bool ServeQueued() {
    bool completed = false;
    std::uint32_t tail = mailbox_->cmd_tail;
    std::atomic_thread_fence(std::memory_order_acquire);
    while (tail != mailbox_->cmd_head) {
      auto* entry = reinterpret_cast<tcmu_cmd_entry*>(base_ + mailbox_->cmdr_off + tail);
      if (tcmu_hdr_get_op(entry->hdr.len_op) == TCMU_OP_CMD) {
        Serve(*entry);
        completed = true;
      }
      tail = (tail + tcmu_hdr_get_len(entry->hdr.len_op)) % mailbox_->cmdr_size;
      std::atomic_thread_fence(std::memory_order_release);
      mailbox_->cmd_tail = tail;
    }
    return completed;
  }

  void Serve(tcmu_cmd_entry& entry) {
    // Request and response share the entry: take the CDB and the buffer list first.
    std::uint8_t cdb[kCdbLength] = {};
    const std::uint8_t* ringCdb = base_ + entry.req.cdb_off;
    std::memcpy(cdb, ringCdb, RingCdbLength(ringCdb[0]));
    std::vector<iovec> buffers(entry.req.iov_cnt);
    std::memcpy(buffers.data(), reinterpret_cast<const std::uint8_t*>(&entry) + offsetof(tcmu_cmd_entry, req.iov),
                buffers.size() * sizeof(iovec));
    std::uint32_t length = 0;
    for (const iovec& buffer : buffers) length += static_cast<std::uint32_t>(buffer.iov_len);
    const bool dataIn = IsDataIn(cdb, length);
    data_.assign(length, 0);
    if (!dataIn) Gather(buffers);

    const sim::CommandResult result = drive_.Execute(cdb, dataIn, data_.data(), length);
    if (result.TimedOut || !result.Delivered)
      std::this_thread::sleep_for(std::chrono::seconds(holdSeconds_));
    if (dataIn) Scatter(buffers, result.Transferred);

    entry.rsp.scsi_status = result.Status;
    std::memset(entry.rsp.sense_buffer, 0, sizeof entry.rsp.sense_buffer);
    std::memcpy(entry.rsp.sense_buffer, result.SenseData.data(), result.SenseLength);
    if (dataIn && (mailbox_->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0) {
      // The kernel reports the rest as residual.
      entry.hdr.uflags |= TCMU_UFLAG_READ_LEN;
      entry.rsp.read_len = result.Transferred;
    }
  }

  void Gather(const std::vector<iovec>& buffers) {
    std::size_t at = 0;
    for (const iovec& buffer : buffers) {
      std::memcpy(data_.data() + at, base_ + reinterpret_cast<std::uintptr_t>(buffer.iov_base), buffer.iov_len);
      at += buffer.iov_len;
    }
  }

  void Scatter(const std::vector<iovec>& buffers, std::uint32_t transferred) {
    std::size_t at = 0;
    for (const iovec& buffer : buffers) {
      if (at >= transferred) break;
      const std::size_t part = std::min<std::size_t>(buffer.iov_len, transferred - at);
      std::memcpy(base_ + reinterpret_cast<std::uintptr_t>(buffer.iov_base), data_.data() + at, part);
      at += part;
    }
  }

  sim::EmulatedDrive& drive_;
  unsigned holdSeconds_;
  int fd_ = -1;
  std::size_t size_ = 0;
  std::uint8_t* base_ = nullptr;
  tcmu_mailbox* mailbox_ = nullptr;
  std::vector<std::uint8_t> data_;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: drive_tcmu_handler /dev/uioN DRIVE_INI HOLD_SECONDS\n");
    return 2;
  }
  try {
    const auto machine = sim::SimMachine::FromFile(argv[2]);
    RingServer server(argv[1], machine->Drive(0), static_cast<unsigned>(std::atoi(argv[3])));
    std::printf("drive_tcmu_handler: serving %s\n", argv[1]);
    std::fflush(stdout);
    server.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "drive_tcmu_handler: %s\n", e.what());
    return 1;
  }
}
