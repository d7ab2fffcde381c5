// Run inside the test guest: sends the vendor Read Flash ID command to the first drive found on
// the platform transport with a short time-out and prints what became of it, so that a command
// the device holds past the caller's time-out can be checked: "result 0, sense 00 00 00, timed out
// (host code 03, ...)".
// Usage: drive_sg_check TIMEOUT_SECONDS

#include <cstdio>
#include <cstdlib>

#include "drive/Cddrives.h"

int main(int argc, char** argv) {
  static std::uint8_t buffer[16384];
  const drive::CDDrives drives;
  if (argc != 2 || drives.Count() == 0) {
    std::fprintf(stderr, "usage: drive_sg_check TIMEOUT_SECONDS, with a drive attached\n");
    return 2;
  }
  drive::CDDrive::SetBuffer(buffer, sizeof buffer);
  drive::CDDrive::SetTimeout(static_cast<std::uint16_t>(std::atoi(argv[1])));
  drive::CDDrive& drive = *drives.Drive(0);
  const int result = drive.Execute(0xDF, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 128);
  const drive::CommandOutcome& outcome = drive.LastOutcome();
  std::printf("%s Read Flash ID: result %d, sense %02X %02X %02X, %s\n", drive.DevicePath().c_str(), result,
              drive.SenseKey(), drive.Asc(), drive.Ascq(), drive::DescribeOutcome(outcome).c_str());
  return result != 0 ? 0 : 1;
}
