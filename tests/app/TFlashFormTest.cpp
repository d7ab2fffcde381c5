// The window's presenter against emulated drives through the real drive layer, seen through
// the scripted view: every text is compared byte for byte.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "ScriptedView.h"
#include "TestDoubles.h"
#include "app/TFlashForm.h"
#include "drive/Cddrive.h"
#include "drive/Cddrives.h"
#include "drive/EmulatedTransport.h"
#include "drive/Transport.h"
#include "payload/IntegrityRecord.h"
#include "payload/PayloadLayout.h"
#include "payload/RoutineStore.h"
#include "sim/EmulatedDrive.h"
#include "sim/ImageRevision.h"
#include "sys/Directory.h"
#include "sys/Restart.h"
#include "sys/Sleeper.h"

namespace apptest {
namespace {

using sys::MessageAnswer;
using sys::MessageButtons;
using sys::MessageKind;

constexpr auto Yes = MessageAnswer::Yes;
constexpr auto No = MessageAnswer::No;

// A payload block in memory, filled the way the builder fills a flasher's.
struct PayloadFields {
  std::string model = "MX77004150Q";
  std::string inquiry = "HBQ     MX77004150Q";
  std::string range = "K4P1-K4PZ";
  std::string vendor = "HBQ";
  std::string note = "";
  std::string newRevision = "K4P9.";
  std::uint32_t imageLength = 0x10000;
};

class TestPayload {
public:
  explicit TestPayload(const PayloadFields& fields) : bytes_(payload::kBlockLength, 0) {
    std::memcpy(bytes_.data(), "{test:payload}", payload::kMarkerLength - 1);
    std::uint8_t* header = bytes_.data() + payload::kMarkerLength;
    auto put = [&](std::size_t offset, const std::string& text) { std::memcpy(header + offset, text.data(), text.size()); };
    put(payload::kModelOffset, fields.model);
    put(payload::kInquiryOffset, fields.inquiry);
    put(payload::kFirmwareRangeOffset, fields.range);
    put(payload::kVendorOffset, fields.vendor);
    put(payload::kNoteOffset, fields.note);
    put(payload::kNewRevisionOffset, fields.newRevision);
    for (int i = 0; i < 4; ++i) header[payload::kImageLengthOffset + i] = static_cast<std::uint8_t>(fields.imageLength >> (8 * i));
    std::uint8_t* image = header + payload::kHeaderLength;
    for (std::uint32_t i = 0; i < fields.imageLength; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    image[0] = 0x02; // an 8051 jump, as every real image starts
    std::memcpy(image + sim::kImageRevisionOffset, fields.newRevision.data(), sim::kImageRevisionLength);
    block_ = std::make_unique<payload::PayloadBlock>(bytes_.data(), bytes_.size());
  }
  static TestPayload Builder() {
    TestPayload payload(PayloadFields{});
    std::memcpy(payload.bytes_.data() + payload::kMarkerLength + payload::kHeaderLength, payload::kBuilderTag, 4);
    return payload;
  }
  const payload::PayloadBlock* Block() const { return block_.get(); }
  // The block's bytes, marker first, to damage in place.
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<payload::PayloadBlock> block_;
};

using apptest::NoSleep;
using apptest::RecordingRestarter;

std::string DriveSection(int index, const std::string& product, const std::string& revision, char letter = 'E') {
  return "[Drive" + std::to_string(index) + "]\nVendor=HBQ\nProduct=" + product + "\nRevision=" + revision +
         "\nLetter=" + std::string(1, letter) + "\nMedium=1\n";
}

class FormTest : public ::testing::Test {
protected:
  void TearDown() override {
    form_.reset();
    drive::ResetTransportState();
  }
  void UseDrives(const std::string& ini) {
    machine_ = ini.empty() ? std::make_shared<sim::SimMachine>(sim::SimConfig{}) : sim::SimMachine::FromIni(ini);
    drive::UseEmulatedDrives(machine_);
  }
  // A flasher carrying fields starts over these drives with the confirmation answered Yes;
  // check looks at its window, then everything is torn down for the next case.
  void StartConfirmed(const std::string& drives, const PayloadFields& fields,
                      const std::function<void(ScriptedView&, app::TFlashForm&)>& check) {
    UseDrives(drives);
    ScriptedView view;
    TestPayload payload(fields);
    view.Answer({Yes});
    {
      app::TFlashForm form(view, {payload.Block()});
      form.FormCreate();
      check(view, form);
      form.FormDestroy();
    }
    drive::ResetTransportState();
  }
  app::TFlashForm& Form(const payload::PayloadBlock* payload, std::string programPath = "", std::string directory = "") {
    app::FormEnvironment environment;
    environment.payload = payload;
    environment.programPath = std::move(programPath);
    environment.currentDirectory = std::move(directory);
    environment.sleeper = &sleeper_;
    environment.restarter = &restarter_;
    form_ = std::make_unique<app::TFlashForm>(view_, environment);
    return *form_;
  }

  ScriptedView view_;
  NoSleep sleeper_;
  RecordingRestarter restarter_;
  std::shared_ptr<sim::SimMachine> machine_;
  std::unique_ptr<app::TFlashForm> form_;
};

const std::string kConfirmation =
    "\nWARNING:\n\nThis flash utility only supports HBQ MX77004150Q drive with firmware:K4P1-K4PZ"
    "\nWe recommend you close all applications in order to run this update! "
    "\nDon't turn off the system while the flash is in progress!\n\nDo you wish to continue?\n";
const std::string kErrorStart =
    "\nERROR:\n\nCan't found MX77004150Q firmware: K4P1-K4PZ drive !\n"
    "\nThis flash utility only supports MX77004150Q firmware: K4P1-K4PZ\n";
const std::string kDashes(59, '-');

TEST_F(FormTest, DecliningTheConfirmationQuitsBeforeAnyDriveIsProbed) {
  struct Case {
    const char* name;
    PayloadFields fields;
    std::string confirmation;
  };
  PayloadFields anyFirmware;
  anyFirmware.range = "-K4P1-K4P";
  PayloadFields lowerVendor;
  lowerVendor.vendor = "hbq";
  PayloadFields shortRange;
  shortRange.range = "K4P1";
  PayloadFields firstDashOnly;
  firstDashOnly.range = "-4P1-K4PZ";
  const std::vector<Case> cases = {
      {"range", {}, kConfirmation},
      {"any-firmware marker", anyFirmware,
       "\nWARNING:\n\nThis flash utility only supports HBQ MX77004150Q drive. "
       "\nWe recommend you close all applications in order to run this update!"
       "\nDon't turn off the system while flash is in progress! \n\nDo you wish to continue?\n"},
      {"vendor upper-cased", lowerVendor, kConfirmation},
      {"short range padded on the left", shortRange,
       "\nWARNING:\n\nThis flash utility only supports HBQ MX77004150Q drive with firmware:     K4P1"
       "\nWe recommend you close all applications in order to run this update! "
       "\nDon't turn off the system while the flash is in progress!\n\nDo you wish to continue?\n"},
      {"one dash is no marker", firstDashOnly,
       "\nWARNING:\n\nThis flash utility only supports HBQ MX77004150Q drive with firmware:-4P1-K4PZ"
       "\nWe recommend you close all applications in order to run this update! "
       "\nDon't turn off the system while the flash is in progress!\n\nDo you wish to continue?\n"},
  };
  UseDrives(DriveSection(0, "MX77004150Q", "K4P5"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedView view;
    TestPayload payload(c.fields);
    view.Answer({No});
    app::TFlashForm form(view, {payload.Block()});
    form.FormCreate();
    EXPECT_EQ(view.messages, (std::vector<ShownMessage>{{c.confirmation, MessageKind::Warning, MessageButtons::YesNo}}));
    EXPECT_FALSE(form.BuilderRole());
    EXPECT_EQ(view.label, "Select the brevant drive you want to update:");
    EXPECT_EQ(view.caption, " Flash Utility V1.0A for ");
    EXPECT_EQ(view.quitCode, 0);
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(form.DriveList(), nullptr);
    EXPECT_TRUE(machine_->Drive(0).Log().empty());
  }
}

TEST_F(FormTest, StartUpReportsWhenNoDriveFits) {
  struct Case {
    const char* name;
    std::string drives;
    std::string range;
    std::string report;
  };
  const std::vector<Case> cases = {
      {"no drive", "", "K4P1-K4PZ", kErrorStart + "\nCan't find ATAPI Drive !\n"},
      {"no drive, any firmware", "", "-K4P1-K4P",
       "\nERROR:\n\nCan't found MX77004150Q drive !\n\nThis flash utility only supports MX77004150Q\n"
       "\nCan't find ATAPI Drive !\n"},
      {"three drives, none fits",
       DriveSection(0, "MX77004150Q", "K4P0", 'E') + DriveSection(1, "MX77004150q", "K4P5", 'F') +
           DriveSection(2, "OTHER", "K4P5", 'G'),
       "K4P1-K4PZ",
       kErrorStart + "\nDetected drives:\n" + kDashes + "\n" + "0-0-0 E: HBQ     MX77004150Q     K4P0\n" +
           "0-1-0 F: HBQ     MX77004150q     K4P5\n" + "1-0-0 G: HBQ     OTHER           K4P5\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PayloadFields fields;
    fields.range = c.range;
    StartConfirmed(c.drives, fields, [&](ScriptedView& view, app::TFlashForm&) {
      ASSERT_EQ(view.messages.size(), 2u);
      EXPECT_EQ(view.messages[1], (ShownMessage{c.report, MessageKind::Error, MessageButtons::Ok}));
      EXPECT_EQ(view.caption, "HBQ Flash Utility V1.0A for MX77004150Q");
      EXPECT_TRUE(view.entries.empty());
      EXPECT_EQ(view.selectedEntry, -1);
      EXPECT_EQ(view.quitCode, 0);
      EXPECT_TRUE(view.closed);
    });
  }
}

TEST_F(FormTest, OnlyTheFittingThirdDriveIsListedAndSelected) {
  UseDrives(DriveSection(0, "MX77004150Q", "K4P0", 'E') + DriveSection(1, "OTHER", "K4P5", 'F') +
            DriveSection(2, "MX77004150Q", "K4P5", 'G'));
  TestPayload payload({});
  view_.Answer({Yes});
  app::TFlashForm& form = Form(payload.Block());
  form.FormCreate();

  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.quitCode, -1);
  EXPECT_FALSE(view_.closed);
  EXPECT_EQ(view_.caption, "HBQ Flash Utility V1.0A for MX77004150Q");
  EXPECT_FALSE(view_.fileListVisible);
  EXPECT_EQ(view_.entries, (std::vector<std::string>{"1-0-0 G: HBQ     MX77004150Q     K4P5"}));
  EXPECT_EQ(form.DriveIndex(), (std::vector<int>{2}));
  EXPECT_EQ(view_.selectedEntry, 0);
  ASSERT_NE(form.DriveList(), nullptr);
  EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Drive(2));
  EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Current());
  EXPECT_EQ(drive::CDDrive::IoBufferLength(), app::kTransferBufferSize);
  EXPECT_EQ(form.ImageLength(), 0x10000u);

  // Typed text selects no entry: the selected drive stays.
  view_.TypeIntoComboBox();
  form.ComboBoxChange();
  EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Drive(2));
  EXPECT_EQ(view_.messages.size(), 1u);

  form.FormDestroy();
  EXPECT_EQ(form.DriveList(), nullptr);
  EXPECT_EQ(drive::State().OpenCount, 0);
  EXPECT_NE(drive::CDDrive::GetBuffer(), nullptr);
}

TEST_F(FormTest, ChoosingAnEntrySelectsItsDrive) {
  UseDrives(DriveSection(0, "MX77004150Q", "K4P5", 'E') + DriveSection(1, "OTHER", "K4P5", 'F') +
            DriveSection(2, "MX77004150Q", "K4P6", 'G'));
  TestPayload payload({});
  view_.Answer({Yes});
  app::TFlashForm& form = Form(payload.Block());
  form.FormCreate();
  ASSERT_EQ(form.DriveIndex(), (std::vector<int>{0, 2}));
  for (int entry : {1, 0, 1}) {
    view_.SelectEntry(entry);
    form.ComboBoxChange();
    EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Drive(form.DriveIndex()[entry]));
    EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Current());
  }
}

TEST_F(FormTest, CheckDiscTellsWhetherTheDriveRefusedToPlay) {
  for (bool medium : {true, false}) {
    SCOPED_TRACE(medium ? "disc present" : "no disc");
    const std::string drives =
        "[Drive0]\nVendor=HBQ\nProduct=MX77004150Q\nRevision=K4P5\nMedium=" + std::string(medium ? "1" : "0") + "\n";
    StartConfirmed(drives, {}, [&](ScriptedView&, app::TFlashForm& form) {
      EXPECT_EQ(form.CheckDisc(), !medium);
      EXPECT_EQ(machine_->Drive(0).Log().back(),
                sim::EmulatedDrive::LogLine({0x45, 0, 0, 0, 0, 0x4B, 0, 0x60, 0, 0, 0, 0}, true, 8));
    });
  }
}

TEST_F(FormTest, FlashRunReplacesTheEntryAndKeepsTheWindowUsable) {
  UseDrives(DriveSection(0, "MX77004150Q", "K4P5"));
  TestPayload payload({});
  view_.Answer({Yes});
  app::TFlashForm& form = Form(payload.Block());
  form.FormCreate();
  ASSERT_EQ(view_.entries.size(), 1u);

  // While the run goes on, the window refuses to close.
  bool closeRefused = false;
  view_.duringLongOperation = [&] { closeRefused = !form.FormCloseQuery(); };
  view_.Answer({Yes, No}); // the update question, then the restart question
  form.FlashButtonClick();

  EXPECT_TRUE(closeRefused);
  EXPECT_EQ(view_.longOperations, 1);
  ASSERT_EQ(view_.messages.size(), 4u);
  EXPECT_EQ(view_.messages[1],
            (ShownMessage{"A firmware update is in progress.\n"
                          "Closing the window now could leave the drive without working firmware.\n"
                          "Please wait until the update has finished.",
                          MessageKind::Warning, MessageButtons::Ok}));
  EXPECT_EQ(view_.messages[2], (ShownMessage{"\nUpdate Firmware K4P5 to K4P9 ?\n", MessageKind::Confirmation, MessageButtons::YesNo}));
  EXPECT_EQ(view_.messages[3], (ShownMessage{"The system needs to be restarted for the changes to take effect ?",
                                             MessageKind::Confirmation, MessageButtons::YesNo}));
  EXPECT_EQ(view_.groupCaption, "Flash Completed.");
  EXPECT_EQ(view_.entries, (std::vector<std::string>{"0-0-0 E: HBQ     MX77004150Q     K4P9"}));
  EXPECT_EQ(view_.selectedEntry, 0);
  EXPECT_EQ(view_.progressPosition, 0);
  EXPECT_EQ(view_.cursor, app::Cursor::Default);
  EXPECT_TRUE(view_.inputEnabled);
  EXPECT_FALSE(form.FlashInProgress());
  EXPECT_TRUE(form.FormCloseQuery());
  EXPECT_EQ(restarter_.requests, 0);
  EXPECT_EQ(machine_->Drive(0).CommitCount(), 1u);
  std::string refusal;
  EXPECT_NE(form.SelectedDrive()->LockForUpdate(refusal), nullptr) << "the run kept the update lock";
}

TEST_F(FormTest, ADamagedFlasherIsRefusedBeforeAnyDriveIsProbed) {
  using Bytes = std::vector<std::uint8_t>;
  struct Case {
    const char* name;
    std::function<void(Bytes& block, Bytes& store, payload::IntegrityRecord& record)> damage;
    bool refused;
  };
  constexpr std::size_t kImageAt = payload::kMarkerLength + payload::kHeaderLength;
  const std::vector<Case> cases = {
      {"intact", [](Bytes&, Bytes&, payload::IntegrityRecord&) {}, false},
      {"empty record", [](Bytes&, Bytes&, payload::IntegrityRecord& record) { record.fill(0); }, false},
      {"image byte", [&](Bytes& block, Bytes&, payload::IntegrityRecord&) { block[kImageAt + 0x8000] ^= 1; }, true},
      {"header byte",
       [](Bytes& block, Bytes&, payload::IntegrityRecord&) { block[payload::kMarkerLength + payload::kNoteOffset] ^= 1; },
       true},
      {"routine store byte", [](Bytes&, Bytes& store, payload::IntegrityRecord&) { store[300] ^= 1; }, true},
      {"record byte", [](Bytes&, Bytes&, payload::IntegrityRecord& record) { record[9] ^= 1; }, true},
      {"record version", [](Bytes&, Bytes&, payload::IntegrityRecord& record) { record[0] = 2; }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseDrives(DriveSection(0, "MX77004150Q", "K4P5"));
    TestPayload payload({});
    const auto ownStore = payload::OwnRoutineStore();
    Bytes store(ownStore.begin(), ownStore.end());
    payload::IntegrityRecord record =
        payload::MakeIntegrityRecord(payload.Block()->Header(), payload.Block()->Image(), store);
    c.damage(payload.Bytes(), store, record);
    ScriptedView view;
    app::FormEnvironment environment;
    environment.payload = payload.Block();
    environment.sleeper = &sleeper_;
    environment.restarter = &restarter_;
    environment.routineStore = store;
    environment.integrityRecord = record;
    app::TFlashForm form(view, environment);
    if (c.refused) {
      form.FormCreate();
      EXPECT_EQ(view.messages,
                (std::vector<ShownMessage>{
                    {"This flasher is damaged: the firmware, header or flash routines it carries do not match its "
                     "integrity record. Download or build it again; nothing was sent to any drive.",
                     MessageKind::Error, MessageButtons::Ok}}));
      EXPECT_EQ(view.quitCode, 0);
      EXPECT_TRUE(view.closed);
      EXPECT_EQ(form.DriveList(), nullptr);
      EXPECT_TRUE(machine_->Drive(0).Log().empty());
    } else {
      view.Answer({Yes});
      form.FormCreate();
      ASSERT_EQ(view.entries.size(), 1u);
      view.Answer({Yes, No}); // the update question, then the restart question
      form.FlashButtonClick();
      EXPECT_EQ(view.groupCaption, "Flash Completed.");
      EXPECT_EQ(machine_->Drive(0).CommitCount(), 1u);
    }
    form.FormDestroy();
    drive::ResetTransportState();
  }
}

TEST_F(FormTest, ADriveLockedForUpdateElsewhereIsLeftAlone) {
  UseDrives(DriveSection(0, "MX77004150Q", "K4P5"));
  TestPayload payload({});
  view_.Answer({Yes});
  app::TFlashForm& form = Form(payload.Block());
  form.FormCreate();
  ASSERT_NE(form.SelectedDrive(), nullptr);
  std::string refusal;
  const auto otherUpdate = form.SelectedDrive()->LockForUpdate(refusal); // as another process would
  ASSERT_NE(otherUpdate, nullptr);
  const std::size_t commandsBefore = machine_->Drive(0).Log().size();

  form.FlashButtonClick();
  EXPECT_EQ(view_.messages.back(),
            (ShownMessage{"The drive 0-0-0 E: HBQ     MX77004150Q     K4P5 cannot be updated now: it is being "
                          "updated by another odflash process.\nNothing was sent to it.",
                          MessageKind::Error, MessageButtons::Ok}));
  EXPECT_EQ(machine_->Drive(0).Log().size(), commandsBefore);
  EXPECT_EQ(view_.longOperations, 0);
  EXPECT_TRUE(view_.inputEnabled);
  EXPECT_FALSE(form.FlashInProgress());
}

// Another odflash process updating a drive (its update lock on the shared drive file): the
// drive is not probed, and a start-up that finds no drive to list says why after its own text.
TEST_F(FormTest, StartUpNamesTheDrivesAnotherUpdateHolds) {
  struct Case {
    const char* name;
    std::string drives;
    std::vector<int> busy;
    std::string report;  // empty: the start-up lists a drive and shows no report
  };
  const std::string busyLine = " was not probed: it is being updated by another odflash process.\n";
  const std::vector<Case> cases = {
      {"a lone drive, busy", DriveSection(0, "MX77004150Q", "K4P5"), {0},
       kErrorStart + "\nCan't find ATAPI Drive !\n\nDrive sim:Drive0" + busyLine},
      {"busy beside one that does not fit",
       DriveSection(0, "MX77004150Q", "K4P5", 'E') + DriveSection(1, "OTHER", "K4P5", 'F') +
           DriveSection(2, "MX77004150Q", "K4P5", 'G'),
       {0, 2},
       kErrorStart + "\nDetected drives:\n" + kDashes + "\n" + "0-1-0 F: HBQ     OTHER           K4P5\n" +
           "\nDrive sim:Drive0" + busyLine + "Drive sim:Drive2" + busyLine},
      {"busy beside one that fits", DriveSection(0, "MX77004150Q", "K4P5", 'E') + DriveSection(1, "MX77004150Q", "K4P5", 'F'),
       {1}, ""},
  };
  const std::filesystem::path driveFile =
      std::filesystem::temp_directory_path() /
      ("odflash-form-busy-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(driveFile) << c.drives;
    std::string error;
    ASSERT_TRUE(drive::UseEmulatedDrivesFromFile(driveFile.string(), error)) << error;
    machine_ = drive::EmulatedMachine();
    drive::EmulatedTransport otherProcess(sim::SimMachine::FromFile(driveFile.string()), driveFile.string());
    const std::vector<drive::DriveAddress> candidates = otherProcess.Candidates();
    std::vector<std::unique_ptr<drive::UpdateLock>> locks;
    for (int index : c.busy) {
      std::string refusal;
      locks.push_back(otherProcess.LockForUpdate(candidates[static_cast<std::size_t>(index)], refusal));
      ASSERT_NE(locks.back(), nullptr) << refusal;
    }
    ScriptedView view;
    TestPayload payload({});
    view.Answer({Yes});
    {
      app::TFlashForm form(view, {payload.Block()});
      form.FormCreate();
      if (c.report.empty()) {
        EXPECT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.entries, (std::vector<std::string>{"0-0-0 E: HBQ     MX77004150Q     K4P5"}));
      } else {
        ASSERT_EQ(view.messages.size(), 2u);
        EXPECT_EQ(view.messages[1], (ShownMessage{c.report, MessageKind::Error, MessageButtons::Ok}));
        EXPECT_TRUE(view.closed);
      }
      form.FormDestroy();
    }
    for (int index : c.busy) EXPECT_TRUE(machine_->Drive(static_cast<std::size_t>(index)).Log().empty()) << index;
    locks.clear();
    drive::ResetTransportState();
  }
  std::filesystem::remove(driveFile);
}

TEST_F(FormTest, AnExceptionInAHandlerIsReportedAndTheWindowGoesOn) {
  UseDrives(DriveSection(0, "MX77004150Q", "K4P5"));
  TestPayload payload({});
  view_.Answer({Yes});
  app::TFlashForm& form = Form(payload.Block());
  form.FormCreate();
  view_.failingCall = "SelectedFile";
  form.FileListBox1Click();
  EXPECT_EQ(view_.messages.back(), (ShownMessage{"SelectedFile failed", MessageKind::Error, MessageButtons::Ok}));
  view_.failingCall.clear();
  view_.SelectEntry(0);
  form.ComboBoxChange();
  EXPECT_EQ(form.SelectedDrive(), form.DriveList()->Drive(0));
  EXPECT_EQ(view_.quitCode, -1);
}

TEST_F(FormTest, AStartUpThatFailsHalfWayEndsTheProgram) {
  ScriptedView view;
  view.failingCall = "SetLabel";
  TestPayload payload({});
  app::TFlashForm form(view, {payload.Block()});
  form.FormCreate();
  EXPECT_EQ(view.messages, (std::vector<ShownMessage>{{"SetLabel failed", MessageKind::Error, MessageButtons::Ok}}));
  EXPECT_EQ(view.quitCode, 0);
  EXPECT_TRUE(view.closed);
}

// The builder role, over a model file and firmware files in a directory of its own.
class BuilderFormTest : public FormTest {
protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("odflash-app-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    for (const char* name : {"K4P5.BIN", "k4p6.bin", "Q100.HEX", "notes.txt"}) Write(name, std::string(1000, 'x'));
  }
  void TearDown() override {
    FormTest::TearDown();
    std::filesystem::remove_all(directory_);
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(directory_ / name, std::ios::binary) << content;
  }
  std::string Program() const { return (directory_ / "BUILDER.EXE").string(); }

  std::filesystem::path directory_;
};

const std::string kModels =
    "[MODEL00]\nModel=MX77004150Q\nInquiry=HBQ     MX77004150Q\nFW-Range=K4P1-K4PZ\nBINMask=*.BIN\nVendor=HBQ\nNote=none\n"
    "[MODEL01]\nModel=QX200\nInquiry=QBX     DVD-ROM QX200\nFW-Range=Q100-Q199\nBINMask=*.HEX;*.TXT\nVendor=QBX\nNote=FLASH-ALL\n";

TEST_F(BuilderFormTest, ModelsFilesAndTheBuildButton) {
  Write("BUILDER.INI", kModels);
  TestPayload payload = TestPayload::Builder();
  app::TFlashForm& form = Form(payload.Block(), Program(), directory_.string());
  form.FormCreate();

  EXPECT_TRUE(form.BuilderRole());
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.quitCode, -1);
  EXPECT_EQ(view_.label, "Select Model: ");
  EXPECT_EQ(view_.buttonCaption, "Build");
  EXPECT_FALSE(view_.buttonEnabled);
  EXPECT_TRUE(view_.fileListVisible);
  EXPECT_EQ(view_.entries, (std::vector<std::string>{"K4P1-K4PZ HBQ     MX77004150Q", "Q100-Q199 QBX     DVD-ROM QX200"}));
  EXPECT_EQ(view_.selectedEntry, 0);
  EXPECT_EQ(view_.caption, " Flash Utility V1.0A for K4P1-K4PZ [Buiding]");
  EXPECT_EQ(view_.listedFiles, (std::vector<std::string>{"K4P5.BIN", "k4p6.bin"}));

  view_.ClickFile("k4p6.bin");
  form.FileListBox1Click();
  EXPECT_TRUE(view_.buttonEnabled);
  EXPECT_EQ(form.SelectedFileName(), "k4p6.bin");

  // Another model: other mask and caption, and a new click is needed.
  view_.SelectEntry(1);
  form.ComboBoxChange();
  EXPECT_EQ(view_.caption, " Flash Utility V1.0A for Q100-Q199 [Buiding]");
  EXPECT_EQ(view_.listedFiles, (std::vector<std::string>{"notes.txt", "Q100.HEX"}));
  EXPECT_FALSE(view_.buttonEnabled);
  EXPECT_EQ(form.SelectedFileName(), "k4p6.bin");

  // Typed text selects no model: nothing changes.
  view_.ClickFile("Q100.HEX");
  form.FileListBox1Click();
  view_.TypeIntoComboBox();
  form.ComboBoxChange();
  EXPECT_EQ(view_.caption, " Flash Utility V1.0A for Q100-Q199 [Buiding]");
  EXPECT_TRUE(view_.buttonEnabled);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(BuilderFormTest, StartUpEndsWhenTheModelFileOrDirectoryIsUnusable) {
  struct Case {
    const char* name;
    std::string models;   // empty: no model file
    std::size_t directoryLength; // 0: the test's directory
    std::string message;  // {} stands for the model file's path
  };
  const std::string iniPath = (directory_ / "BUILDER.INI").string();
  const std::string longDirectory = "C:\\" + std::string(253, 'd');
  const std::vector<Case> cases = {
      {"no model file", "", 0, "Can't load " + iniPath},
      {"MODEL00 missing", "[MODEL01]\nModel=X\n", 0, iniPath + " > Session MODEL00 error!"},
      {"directory too long", kModels, longDirectory.size(),
       "The current directory is too long for the firmware file list (at most 255 characters):\n" + longDirectory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(iniPath);
    if (!c.models.empty()) Write("BUILDER.INI", c.models);
    ScriptedView view;
    TestPayload payload = TestPayload::Builder();
    app::TFlashForm form(view, {payload.Block(), Program(), c.directoryLength ? longDirectory : directory_.string()});
    form.FormCreate();
    EXPECT_EQ(view.messages, (std::vector<ShownMessage>{{c.message, c.directoryLength ? MessageKind::Error : MessageKind::Plain,
                                                         MessageButtons::Ok}}));
    EXPECT_EQ(view.quitCode, 0);
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(view.label, "");
    EXPECT_EQ(view.buttonCaption, "FLASH");
  }
  // A directory of exactly 255 characters still fits.
  ScriptedView view;
  TestPayload payload = TestPayload::Builder();
  app::TFlashForm form(view, {payload.Block(), Program(), longDirectory.substr(0, 255)});
  form.FormCreate();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(form.BuildDirectory().size(), 255u);
}

TEST_F(BuilderFormTest, BuildWritesTheFlasherUnderTheHourglass) {
  Write("BUILDER.INI", kModels);
  // The test program itself carries a payload block: it serves as the builder's file.
  std::filesystem::copy_file(sys::ModulePath(), Program());
  TestPayload payload = TestPayload::Builder();
  app::TFlashForm& form = Form(payload.Block(), Program(), directory_.string());
  form.FormCreate();
  view_.ClickFile("K4P5.BIN");
  form.FileListBox1Click();
  form.FlashButtonClick();

  EXPECT_TRUE(view_.messages.empty()) << view_.messages.front().text;
  EXPECT_EQ(view_.groupCaptions, (std::vector<std::string>{"Building K4P5.BIN  Please wait... ", "Build K4P5.EXE complete!"}));
  EXPECT_EQ(view_.cursors, (std::vector<app::Cursor>{app::Cursor::Hourglass, app::Cursor::Default}));
  EXPECT_EQ(view_.progressPosition, 0);
  EXPECT_EQ(std::filesystem::file_size(directory_ / "K4P5.EXE"), std::filesystem::file_size(Program()));
}

} // namespace
} // namespace apptest
