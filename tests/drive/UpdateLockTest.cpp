// The update lock of each transport that can run here, and enumeration leaving a locked drive
// alone: a second holder (another transport object standing in for another process) is refused
// and sees the lock, and releasing it frees the drive.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "DriveTestSupport.h"
#include "drive/Cddrives.h"
#include "drive/EmulatedTransport.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "drive/SgTransportPosix.h"
#endif

namespace {

namespace fs = std::filesystem;
using drive::DriveAddress;

DriveAddress Numbers(std::uint8_t adapter, std::uint8_t target) {
  DriveAddress address;
  address.Adapter = adapter;
  address.Target = target;
  return address;
}

DriveAddress Path(const std::string& path, std::uint8_t adapter = 0, std::uint8_t target = 0) {
  DriveAddress address = Numbers(adapter, target);
  address.DevicePath = path;
  return address;
}

class UpdateLockTest : public drive_test::DriveTest {
protected:
  void SetUp() override {
    DriveTest::SetUp();
    folder_ = fs::temp_directory_path() / ("odflash-lock-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override {
    // Windows refuses to delete a read-only file.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(folder_);
    DriveTest::TearDown();
  }
  std::string File(const std::string& name, const std::string& text) {
    const fs::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }
  fs::path folder_;
};

TEST_F(UpdateLockTest, ASecondHolderIsRefusedUntilTheLockIsReleased) {
  struct Case {
    std::string Name;
    std::function<std::unique_ptr<drive::Transport>()> Make;
    DriveAddress Locked, SameDrive, OtherDrive;
  };
  const std::string ini = drive_test::ManyDrives(4);
  const std::string driveFile = File("drives.ini", ini);
  // A packaged drive file: the lock must not need write access to it.
  const std::string readOnlyFile = File("packaged.ini", ini);
  fs::permissions(readOnlyFile, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto machine = sim::SimMachine::FromIni(ini);
  std::vector<Case> cases = {
      // Enumeration names the drive by path, a caller may name it by numbers: one lock.
      {"emulated in memory", [&] { return std::make_unique<drive::EmulatedTransport>(machine); },
       Path("sim:Drive3", 1, 1), Numbers(1, 1), Numbers(1, 0)},
      {"emulated from a file",
       [&] { return std::make_unique<drive::EmulatedTransport>(sim::SimMachine::FromFile(driveFile), driveFile); },
       Path("sim:Drive3", 1, 1), Numbers(1, 1), Numbers(0, 1)},
      {"emulated from a read-only file",
       [&] { return std::make_unique<drive::EmulatedTransport>(sim::SimMachine::FromFile(readOnlyFile), readOnlyFile); },
       Path("sim:Drive3", 1, 1), Numbers(1, 1), Numbers(0, 1)},
  };
#ifndef _WIN32
  // A regular file stands in for the device node: flock behaves alike, O_EXCL is ignored.
  const std::string sr0 = File("sr0", ""), sr1 = File("sr1", "");
  cases.push_back({"sg_io", [] { return std::make_unique<drive::SgTransport>("/nonexistent", "/nonexistent"); },
                   Path(sr0), Path(sr0), Path(sr1)});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto first = c.Make();
    auto second = c.Make();
    std::string refusal;
    EXPECT_FALSE(second->IsLockedForUpdate(c.SameDrive));
    auto lock = first->LockForUpdate(c.Locked, refusal);
    ASSERT_NE(lock, nullptr) << refusal;

    EXPECT_TRUE(second->IsLockedForUpdate(c.SameDrive));
    EXPECT_EQ(second->LockForUpdate(c.SameDrive, refusal), nullptr);
    EXPECT_EQ(refusal, drive::kRefusedBeingUpdated);
    // Testing the lock must not have dropped it.
    EXPECT_TRUE(first->IsLockedForUpdate(c.Locked));
    EXPECT_FALSE(second->IsLockedForUpdate(c.OtherDrive));
    EXPECT_NE(second->LockForUpdate(c.OtherDrive, refusal), nullptr);

    lock.reset();
    EXPECT_FALSE(second->IsLockedForUpdate(c.SameDrive));
    EXPECT_NE(second->LockForUpdate(c.SameDrive, refusal), nullptr);
  }
  // Nothing was sent to any drive.
  for (std::size_t i = 0; i < machine->Count(); ++i) EXPECT_TRUE(machine->Drive(i).Log().empty()) << i;
}

#ifndef _WIN32
// Another user's flasher must be able to lock the same drive: the lock file is made readable
// and writable by all whatever the umask.
TEST_F(UpdateLockTest, TheLockFileOfADriveIsOpenToEveryUser) {
  const std::string driveFile = File("drives.ini", drive_test::ManyDrives(1));
  struct stat file {};
  ASSERT_EQ(::stat(driveFile.c_str(), &file), 0);
  const std::string name = "odflash-" + std::to_string(file.st_dev) + "-" + std::to_string(file.st_ino) + "-drive0.lock";
  drive::EmulatedTransport transport(sim::SimMachine::FromFile(driveFile), driveFile);
  const mode_t umask = ::umask(077);
  std::string refusal;
  auto lock = transport.LockForUpdate(Numbers(0, 0), refusal);
  ::umask(umask);
  ASSERT_NE(lock, nullptr) << refusal;
  struct stat made {};
  ASSERT_TRUE(::stat(("/run/lock/" + name).c_str(), &made) == 0 || ::stat(("/tmp/" + name).c_str(), &made) == 0);
  EXPECT_EQ(made.st_mode & 07777, 0666u);
}
#endif

TEST_F(UpdateLockTest, EnumerationLeavesALockedDriveAloneAndNamesIt) {
  auto machine = Emulate(drive_test::ManyDrives(2));
  drive::CDDrives first;
  ASSERT_EQ(first.Count(), 2);
  std::string refusal;
  auto lock = first.Drive(0)->LockForUpdate(refusal);
  ASSERT_NE(lock, nullptr) << refusal;
  const std::size_t commandsBefore = machine->Drive(0).Log().size();
  {
    drive::CDDrives second;
    ASSERT_EQ(second.Count(), 1);
    EXPECT_EQ(second.Current()->DevicePath(), "sim:Drive1");
    EXPECT_EQ(second.BusyDevicePaths(), std::vector<std::string>{"sim:Drive0"});
    EXPECT_EQ(machine->Drive(0).Log().size(), commandsBefore);
    EXPECT_EQ(drive::State().OpenCount, 3);
  }
  lock.reset();
  drive::CDDrives third;
  EXPECT_EQ(third.Count(), 2);
  EXPECT_TRUE(third.BusyDevicePaths().empty());
  EXPECT_TRUE(messages_.Shown.empty());
}

} // namespace
