// The Linux enumeration on a fake sysfs tree, and the SG_IO transport's open failure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "DriveTestSupport.h"
#include "drive/Cddrives.h"
#include "drive/SgTransportPosix.h"
#include "drive/SysfsDrivesPosix.h"

namespace {

namespace fs = std::filesystem;
using drive_test::RecordedMessage;

// A temporary tree: <root>/class/block/<name>/device -> <root>/devices/<address>, with a type.
class FakeSysfs {
public:
  FakeSysfs() : root_(fs::temp_directory_path() / ("odflash-sysfs-" + std::to_string(::getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "class" / "block");
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  void Add(const std::string& name, const std::string& address, const std::string& type) {
    const fs::path device = root_ / "devices" / "pci0000:00" / address;
    fs::create_directories(device);
    if (!type.empty()) std::ofstream(device / "type") << type << "\n";
    fs::create_directories(root_ / "class" / "block" / name);
    fs::create_directory_symlink(device, root_ / "class" / "block" / name / "device");
  }
  std::string Root() const { return root_.string(); }

private:
  fs::path root_;
};

TEST(SysfsDrives, FindsOpticalDrivesInNumberOrder) {
  FakeSysfs sysfs;
  sysfs.Add("sr10", "4:0:2:0", "5");
  sysfs.Add("sr1", "2:0:0:1", "5");
  sysfs.Add("sr0", "0:0:1:0", "5");
  sysfs.Add("sda", "1:0:0:0", "0");     // not an sr node
  sysfs.Add("sr2", "3:0:0:0", "0");     // not a CD/DVD device
  sysfs.Add("sr3", "host3", "5");       // no address in the link
  sysfs.Add("sr4", "5:0:0:0", "");      // no type
  const std::vector<drive::SysfsDrive> drives = drive::FindSysfsDrives(sysfs.Root(), "/dev");
  std::vector<std::string> found;
  for (const drive::SysfsDrive& d : drives)
    found.push_back(d.DevicePath + " " + std::to_string(d.Host) + ":" + std::to_string(d.Channel) + ":" +
                    std::to_string(d.Target) + ":" + std::to_string(d.Lun));
  EXPECT_THAT(found, ::testing::ElementsAre("/dev/sr0 0:0:1:0", "/dev/sr1 2:0:0:1", "/dev/sr10 4:0:2:0"));
  EXPECT_TRUE(drive::FindSysfsDrives(sysfs.Root() + "/missing").empty());
}

class SgTransportTest : public drive_test::DriveTest {};

TEST_F(SgTransportTest, ANodeThatCannotBeOpenedShowsBothBoxesAndIsNotListed) {
  FakeSysfs sysfs;
  sysfs.Add("sr0", "0:0:1:0", "5");
  drive::UseTransport(std::make_unique<drive::SgTransport>(sysfs.Root(), sysfs.Root() + "/dev"));
  drive::CDDrives drives;
  EXPECT_EQ(drives.Count(), 0);
  EXPECT_TRUE(drive::State().ReportErrors);
  const std::string path = sysfs.Root() + "/dev/sr0";
  EXPECT_EQ(messages_.Shown,
            (std::vector<RecordedMessage>{
                {"Error opening: 2, Drive: " + path, sys::MessageKind::Plain},
                {"SenseCode: 00 00 00, 00, Error: 2, No such file or directory\n", sys::MessageKind::Plain}}));
}

TEST_F(SgTransportTest, ADriveOnAHostNumberAbove255IsStillProbedByItsPath) {
  FakeSysfs sysfs;
  sysfs.Add("sr0", "300:0:0:0", "5");
  drive::UseTransport(std::make_unique<drive::SgTransport>(sysfs.Root(), sysfs.Root() + "/dev"));
  drive::CDDrives drives;
  ASSERT_FALSE(messages_.Shown.empty());
  EXPECT_EQ(messages_.Shown[0].Text, "Error opening: 2, Drive: " + sysfs.Root() + "/dev/sr0");
}

} // namespace
