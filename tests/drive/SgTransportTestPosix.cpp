// The Linux enumeration on a fake sysfs tree, the SG_IO transport's open failure, what its
// update lock refuses, and the sg node's system calls faked.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "DriveTestSupport.h"
#include "drive/Cddrives.h"
#include "drive/PosixCalls.h"
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
  // sg: the name of the device's sg node, empty for none.
  void Add(const std::string& name, const std::string& address, const std::string& type,
           const std::string& sg = "") {
    const fs::path device = root_ / "devices" / "pci0000:00" / address;
    fs::create_directories(device);
    if (!type.empty()) std::ofstream(device / "type") << type << "\n";
    if (!sg.empty()) fs::create_directories(device / "scsi_generic" / sg);
    fs::create_directories(root_ / "class" / "block" / name);
    fs::create_directory_symlink(device, root_ / "class" / "block" / name / "device");
    std::ofstream(root_ / "class" / "block" / name / "dev") << "11:" << name.substr(2) << "\n";
  }
  // A file under the root (a device node's stand-in, a /proc file).
  std::string File(const std::string& relative, const std::string& text = "") {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    return path.string();
  }
  std::string Root() const { return root_.string(); }

private:
  fs::path root_;
};

TEST(SysfsDrives, FindsOpticalDrivesInNumberOrder) {
  FakeSysfs sysfs;
  sysfs.Add("sr10", "4:0:2:0", "5");
  sysfs.Add("sr1", "2:0:0:1", "5", "sg3");
  sysfs.Add("sr0", "0:0:1:0", "5");
  sysfs.Add("sda", "1:0:0:0", "0");     // not an sr node
  sysfs.Add("sr2", "3:0:0:0", "0");     // not a CD/DVD device
  sysfs.Add("sr3", "host3", "5");       // no address in the link
  sysfs.Add("sr4", "5:0:0:0", "");      // no type
  const std::vector<drive::SysfsDrive> drives = drive::FindSysfsDrives(sysfs.Root(), "/dev");
  std::vector<std::string> found;
  for (const drive::SysfsDrive& d : drives)
    found.push_back(d.DevicePath + " " + d.CommandPath() + " " + d.DevNumber + " " + std::to_string(d.Host) + ":" +
                    std::to_string(d.Channel) + ":" + std::to_string(d.Target) + ":" + std::to_string(d.Lun));
  EXPECT_THAT(found, ::testing::ElementsAre("/dev/sr0 /dev/sr0 11:0 0:0:1:0", "/dev/sr1 /dev/sg3 11:1 2:0:0:1",
                                            "/dev/sr10 /dev/sr10 11:10 4:0:2:0"));
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

// The lock is taken on the command node and refuses, before anything is sent, a mounted disc
// and a drive that only root could update; it names the other processes holding the drive's
// nodes open (process 25 has /dev/sr0, 100 /dev/sg1, 300 something else).
TEST_F(SgTransportTest, TheUpdateLockHoldsTheSgNodeAndRefusesWhatWouldFailLater) {
  struct Case {
    std::string Name;
    std::string Sg;        // the drive's sg node, empty for none
    std::string Mountinfo; // /proc/self/mountinfo
    std::string CapEff;    // the CapEff line's value in /proc/self/status
    std::string Locked;    // the node the lock holds; empty: refused with Refusal
    std::function<std::string(const std::string& dev)> Refusal;
    std::function<std::string(const std::string& dev)> Holders; // empty: no warning
  };
  const std::string mounted = "36 25 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n";
  const std::string rawIo = "0000000000020000", none = "0000000000000000";
  const std::vector<Case> cases = {
      {"sg node", "sg1", "", none, "sg1", {},
       [](const std::string& dev) { return "25 vlc on " + dev + "/sr0, 100 udisksd on " + dev + "/sg1"; }},
      {"sg node, disc mounted", "sg1", mounted, rawIo, "",
       [](const std::string&) { return std::string(drive::kRefusedHeldByProgram); }},
      {"no sg node, no CAP_SYS_RAWIO", "", "", none, "",
       [](const std::string& dev) { return drive::NoSgNodeRefusal(dev + "/sr0"); }},
      {"no sg node, root", "", "", rawIo, "sr0", {}, [](const std::string& dev) { return "25 vlc on " + dev + "/sr0"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeSysfs tree;
    tree.Add("sr0", "0:0:1:0", "5", c.Sg);
    const std::string dev = tree.Root() + "/dev", proc = tree.Root() + "/proc";
    tree.File("dev/sr0");
    tree.File("dev/sg1");
    tree.File("proc/self/mountinfo", c.Mountinfo);
    tree.File("proc/self/status", "Name:\todflash\nCapEff:\t" + c.CapEff + "\n");
    const std::pair<const char*, const char*> holders[] = {{"25", "vlc"}, {"100", "udisksd"}, {"300", "bash"}};
    const char* const held[] = {"dev/sr0", "dev/sg1", "proc/self/status"};
    for (std::size_t i = 0; i < 3; ++i) {
      tree.File(std::string("proc/") + holders[i].first + "/comm", std::string(holders[i].second) + "\n");
      fs::create_directories(tree.Root() + "/proc/" + holders[i].first + "/fd");
      fs::create_symlink(tree.Root() + "/" + held[i], tree.Root() + "/proc/" + holders[i].first + "/fd/" + std::to_string(i + 3));
    }
    drive::SgTransport first(tree.Root(), dev, proc), second(tree.Root(), dev, proc);
    drive::DriveAddress address;
    address.DevicePath = dev + "/sr0";
    std::string refusal;
    auto lock = first.LockForUpdate(address, refusal);
    if (c.Locked.empty()) {
      EXPECT_EQ(lock, nullptr);
      EXPECT_EQ(refusal, c.Refusal(dev));
      continue;
    }
    ASSERT_NE(lock, nullptr) << refusal;
    EXPECT_EQ(lock->Warnings, std::vector<std::string>{"other programs have the drive open (as far as visible): " +
                                                       c.Holders(dev) +
                                                       "; their commands may still reach it during the update"});
    EXPECT_TRUE(second.IsLockedForUpdate(address));
    const int probe = ::open((dev + "/" + c.Locked).c_str(), O_RDONLY);
    EXPECT_NE(::flock(probe, LOCK_SH | LOCK_NB), 0) << "not locked: " << c.Locked;
    ::close(probe);
  }
}

// What the faked node calls answer, and the descriptors they have handed out and not yet had back.
struct FakeNodes {
  std::map<std::string, int> OpenErrors; // by node name ("sg1", "sr0"); absent: it opens
  int FlockError = 0;                    // errno of the update's exclusive flock; 0: taken
  int IoctlError = 0;                    // errno of SG_IO; 0: the command ends GOOD
  std::set<int> Open;
  int Next = 100;
};
FakeNodes* fakeNodes = nullptr;

int Fail(int code) {
  errno = code;
  return -1;
}

drive::PosixCalls FakePosixCalls() {
  drive::PosixCalls calls;
  calls.Open = [](const char* path, int) {
    const auto error = fakeNodes->OpenErrors.find(fs::path(path).filename().string());
    if (error != fakeNodes->OpenErrors.end()) return Fail(error->second);
    fakeNodes->Open.insert(fakeNodes->Next);
    return fakeNodes->Next++;
  };
  calls.Close = [](int fd) {
    EXPECT_EQ(fakeNodes->Open.erase(fd), 1u) << "closed twice or never opened: " << fd;
    return 0;
  };
  calls.Flock = [](int, int operation) {
    return (operation & LOCK_EX) != 0 && fakeNodes->FlockError != 0 ? Fail(fakeNodes->FlockError) : 0;
  };
  calls.Ioctl = [](int, unsigned long request, void* argument) {
    EXPECT_EQ(request, static_cast<unsigned long>(SG_IO));
    if (fakeNodes->IoctlError != 0) return Fail(fakeNodes->IoctlError);
    auto* header = static_cast<sg_io_hdr_t*>(argument);
    header->status = header->host_status = header->driver_status = 0;
    header->sb_len_wr = 0;
    header->resid = 0;
    return 0;
  };
  return calls;
}

class SgNodeCallsTest : public drive_test::DriveTest {
protected:
  void SetUp() override {
    DriveTest::SetUp();
    fakeNodes = &fake_;
    drive::Posix() = FakePosixCalls();
  }
  void TearDown() override {
    drive::Posix() = drive::RealPosixCalls();
    fakeNodes = nullptr;
    DriveTest::TearDown();
  }
  FakeNodes fake_;
};

// The sg node's refusals, a failing SG_IO and the update's flock, as the open, a command and the
// update lock report them; every descriptor handed out is given back, whatever the exit.
TEST_F(SgNodeCallsTest, RefusalsFailuresAndTheLockAsTheTransportReportsThem) {
  struct Case {
    const char* Name;
    int SgError, SrError; // errno of every open of /dev/sg1 and /dev/sr0; 0: they open
    int FlockError, IoctlError;
    std::string Opened;   // the open-failure message; empty: a channel opened
    std::string Sent;     // what became of a TEST UNIT READY on the channel
    std::string Lock;     // the lock's refusal, or "taken" and its warnings ("DEV" is the /dev folder)
  };
  const std::string busy = std::strerror(EBUSY), noLocks = std::strerror(ENOLCK);
  const std::vector<Case> cases = {
      {"every call granted", 0, 0, 0, 0, "", "GOOD", "taken"},
      {"sg node EACCES: listed through sr0, not updated", EACCES, 0, 0, 0, "", "GOOD",
       drive::SgAccessRefusal("DEV/sg1", EACCES)},
      {"sg and sr nodes EPERM", EPERM, EPERM, 0, 0, "Error opening: 1, Drive: DEV/sg1", "",
       drive::SgAccessRefusal("DEV/sg1", EPERM)},
      {"sg node EBUSY", EBUSY, 0, 0, 0, "Error opening: 16, Drive: DEV/sg1", "", "it cannot be opened: " + busy},
      {"sr0 held exclusively elsewhere", 0, EBUSY, 0, 0, "", "GOOD", drive::kRefusedHeldByProgram},
      {"sr0 not readable", 0, EACCES, 0, 0, "", "GOOD",
       "taken; DEV/sr0 could not be held exclusively (Permission denied): a disc may be mounted or burnt during "
       "the update"},
      {"flock held by another odflash", 0, 0, EWOULDBLOCK, 0, "", "GOOD", drive::kRefusedBeingUpdated},
      {"flock failing", 0, 0, ENOLCK, 0, "", "GOOD", "it cannot be locked: " + noLocks},
      {"SG_IO failing", 0, 0, 0, ENOMEM, "", "not sent: system error 12", "taken"},
  };
  FakeSysfs tree;
  tree.Add("sr0", "0:0:1:0", "5", "sg1");
  const std::string dev = tree.Root() + "/dev";
  const auto expand = [&dev](std::string text) {
    for (std::size_t at = text.find("DEV"); at != std::string::npos; at = text.find("DEV", at + dev.size()))
      text.replace(at, 3, dev);
    return text;
  };
  drive::DriveAddress address;
  address.DevicePath = dev + "/sr0";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fake_ = FakeNodes{};
    if (c.SgError != 0) fake_.OpenErrors["sg1"] = c.SgError;
    if (c.SrError != 0) fake_.OpenErrors["sr0"] = c.SrError;
    fake_.FlockError = c.FlockError;
    fake_.IoctlError = c.IoctlError;
    messages_.Shown.clear();
    drive::SgTransport transport(tree.Root(), dev, tree.Root() + "/proc", tree.Root() + "/run");
    {
      drive::CommandOutcome failure;
      auto channel = transport.Open(address, failure);
      if (c.Opened.empty()) {
        ASSERT_NE(channel, nullptr);
        const drive::CommandOutcome sent = channel->Send(drive::CommandBlock{});
        EXPECT_EQ(drive::DescribeOutcome(sent), c.Sent);
        EXPECT_EQ(sent.OsError, static_cast<std::uint32_t>(c.IoctlError));
      } else {
        EXPECT_EQ(channel, nullptr);
        EXPECT_EQ(failure.OsError, static_cast<std::uint32_t>(c.SgError));
        EXPECT_EQ(messages_.Shown, std::vector<RecordedMessage>({{expand(c.Opened), sys::MessageKind::Plain}}));
      }
    }
    {
      std::string refusal;
      const auto lock = transport.LockForUpdate(address, refusal);
      std::string got = lock ? "taken" : refusal;
      if (lock)
        for (const std::string& warning : lock->Warnings) got += "; " + warning;
      EXPECT_EQ(got, expand(c.Lock));
    }
    EXPECT_THAT(fake_.Open, ::testing::IsEmpty());
  }
}

} // namespace

// As root on the sg path the update pauses the drive's media polling when it takes the lock,
// unbinds the sr driver before the first WRITE BUFFER and puts both back when the lock goes;
// never without an sg node, without root or with detaching turned off. A state file records
// what to put back, from which the next enumeration as root restores a killed run's drive.
TEST_F(SgTransportTest, TheUpdateDetachesTheBlockDriverAndPutsItBack) {
  struct Case {
    std::string Name;
    std::string Sg;
    std::string CapEff;
    bool Detach; // the option
    bool Detached;
  };
  const std::string root = "0000000000220000", rawIoOnly = "0000000000020000";
  const std::vector<Case> cases = {
      {"root, sg node", "sg1", root, true, true},
      {"root, sg node, --no-detach", "sg1", root, false, false},
      {"root, no sg node", "", root, true, false},
      {"no CAP_SYS_ADMIN", "sg1", rawIoOnly, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeSysfs tree;
    tree.Add("sr0", "0:0:1:0", "5", c.Sg);
    const std::string dev = tree.Root() + "/dev", proc = tree.Root() + "/proc", state = tree.Root() + "/run";
    tree.File("dev/sr0");
    tree.File("dev/sg1");
    tree.File("proc/self/status", "CapEff:\t" + c.CapEff + "\n");
    const std::string poll = tree.File("class/block/sr0/events_poll_msecs", "2000\n");
    const std::string bind = tree.File("bus/scsi/drivers/sr/bind"), unbind = tree.File("bus/scsi/drivers/sr/unbind");
    const auto read = [](const std::string& path) {
      std::string text;
      std::getline(std::ifstream(path), text);
      return text;
    };
    drive::State().DetachDriver = c.Detach;
    drive::SgTransport transport(tree.Root(), dev, proc, state);
    drive::DriveAddress address;
    address.DevicePath = dev + "/sr0";
    std::string refusal;
    auto lock = transport.LockForUpdate(address, refusal);
    ASSERT_NE(lock, nullptr) << refusal;
    EXPECT_EQ(read(poll), c.Detached ? "0" : "2000");
    drive::CommandOutcome failure;
    auto channel = transport.Open(address, failure);
    ASSERT_NE(channel, nullptr);
    drive::CommandBlock writeBuffer;
    writeBuffer.Cdb[0] = 0x3B;
    channel->Send(writeBuffer);
    EXPECT_EQ(read(unbind), c.Detached ? "0:0:1:0" : "");
    const std::vector<drive::DetachRecord> records = drive::ReadDetachRecords(state);
    ASSERT_EQ(records.size(), c.Detached ? 1u : 0u);
    if (c.Detached) {
      EXPECT_EQ(records[0].Sg, dev + "/sg1");
      EXPECT_EQ(records[0].Poll, "2000");
      // The drive, detached, is still listed by its old name; the update holds it.
      drive::SgTransport other(tree.Root(), dev, proc, state);
      EXPECT_TRUE(other.LeftToRestore().empty());
      EXPECT_TRUE(other.IsLockedForUpdate(address));
    }
    lock.reset();
    EXPECT_EQ(read(bind), c.Detached ? "0:0:1:0" : "");
    EXPECT_EQ(read(poll), "2000");
    EXPECT_TRUE(drive::ReadDetachRecords(state).empty());
  }
}

// A run killed while the drive was detached: a user is told the commands that restore it; root's
// next enumeration binds the driver and writes the polling setting back, and removes the record.
TEST_F(SgTransportTest, AKilledRunsDetachIsRestoredByTheNextRunAsRoot) {
  FakeSysfs tree;
  tree.Add("sr0", "0:0:1:0", "5", "sg1");
  const std::string dev = tree.Root() + "/dev", proc = tree.Root() + "/proc", state = tree.Root() + "/run";
  tree.File("dev/sg1");
  const std::string poll = tree.File("class/block/sr0/events_poll_msecs", "0\n");
  const std::string bind = tree.File("bus/scsi/drivers/sr/bind");
  const std::string record = tree.File("run/restore-0:0:1:0", "address=0:0:1:0\nsg=" + dev +
                                                                   "/sg1\nblock=sr0\npoll=2000\nwritten=1000\n");
  tree.File("proc/self/status", "CapEff:\t0000000000000000\n");
  drive::SgTransport user(tree.Root(), dev, proc, state);
  EXPECT_EQ(user.LeftToRestore(),
            std::vector<std::string>{"drive 0:0:1:0 (" + dev + "/sg1) was left detached from " + dev +
                                     "/sr0 by an update that ended early; to restore it, run as root: echo 0:0:1:0 > "
                                     "/sys/bus/scsi/drivers/sr/bind; echo 2000 > /sys/bus/scsi/devices/0:0:1:0/"
                                     "block/sr*/events_poll_msecs; rm " + record});
  user.Candidates();
  EXPECT_TRUE(fs::exists(record));
  tree.File("proc/self/status", "CapEff:\t0000000000220000\n");
  drive::SgTransport root(tree.Root(), dev, proc, state);
  EXPECT_EQ(root.Candidates().size(), 1u);
  std::string text;
  std::getline(std::ifstream(bind), text);
  EXPECT_EQ(text, "0:0:1:0");
  std::getline(std::ifstream(poll), text);
  EXPECT_EQ(text, "2000");
  EXPECT_FALSE(fs::exists(record));
}
