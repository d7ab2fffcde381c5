// Run inside the test guest: sends the vendor Read Flash ID command to every drive found on the
// platform transport and prints the outcome, one line per drive.

#include <cstdio>

#include "drive/Cddrives.h"

int main() {
  static std::uint8_t buffer[16384];
  drive::CDDrives drives;
  drive::CDDrive::SetBuffer(buffer, sizeof buffer);
  for (int i = 0; i < drives.Count(); ++i) {
    drive::CDDrive& drive = *drives.Drive(i);
    const int result = drive.Execute(0xDF, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 128);
    std::printf("%s Read Flash ID> %s result %d\n", drive.DevicePath().c_str(), drive.SenseText().c_str(),
                result);
  }
  return drives.Count() > 0 ? 0 : 1;
}
