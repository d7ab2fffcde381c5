// The Qt window wired to the presenter, in-process: the user's clicks reach the handlers,
// the builder role builds a flasher, and a flash run on the emulated drives goes through the
// window's worker thread while the window refuses to close.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include "../app/TestDoubles.h"
#include "QtTestSupport.h"
#include "SampleImages.h"
#include "app/TFlashForm.h"
#include "builder/FlasherWriter.h"
#include "drive/Transport.h"
#include "gui/qt/QtFormView.h"
#include "payload/PayloadBlock.h"
#include "sim/EmulatedDrive.h"
#include "sys/Restart.h"
#include "sys/Sleeper.h"

namespace {

namespace fs = std::filesystem;
using app::Control;
using guitest::BoxAnswerer;
using guitest::Bytes;
using guitest::SeenBox;

using apptest::NoSleep;
using apptest::RecordingRestarter;

class WindowTest : public ::testing::Test {
protected:
  WindowTest() {
    sys::SetMessages(&view_);
    directory_ = fs::temp_directory_path() / ("gui_qt_tests_" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  ~WindowTest() override {
    if (form_) form_->FormDestroy();
    view_.Attach(nullptr);
    form_.reset();
    sys::SetMessages(nullptr);
    drive::ResetTransportState();
    fs::remove_all(directory_);
  }
  app::TFlashForm& Form(const payload::PayloadBlock* payload, const std::string& programPath = "") {
    app::FormEnvironment environment;
    environment.payload = payload;
    environment.programPath = programPath;
    environment.currentDirectory = directory_.string();
    environment.sleeper = &sleeper_;
    environment.restarter = &restarter_;
    form_ = std::make_unique<app::TFlashForm>(view_, environment);
    view_.Attach(form_.get());
    return *form_;
  }
  template <typename Widget> Widget* Control(app::Control control) {
    return qobject_cast<Widget*>(view_.ControlWidget(control));
  }
  void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  }
  // The user picks entry index of the model or drive box with the keyboard.
  void ChooseEntry(int index) {
    auto* combo = Control<QComboBox>(Control::ComboBox);
    while (combo->currentIndex() != index) {
      QKeyEvent press(QEvent::KeyPress, combo->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier);
      QCoreApplication::sendEvent(combo, &press);
    }
  }

  // Qt needs its application object before the first widget.
  QApplication& application_ = guitest::Application();
  gui::QtFormView view_;
  NoSleep sleeper_;
  RecordingRestarter restarter_;
  fs::path directory_;
  std::unique_ptr<app::TFlashForm> form_;
};

TEST_F(WindowTest, BuilderRoleFollowsTheUsersChoicesAndBuilds) {
  // The test program carries the builder's block, so a copy of it is a builder template.
  const fs::path program = directory_ / "odflash-gui";
  fs::copy_file("/proc/self/exe", program);
  fs::copy_file(fs::path(ODFLASH_SOURCE_DIR) / "data/models.ini", directory_ / "odflash-gui.INI");
  WriteFile(directory_ / "1.10.BIN", samples::MakeSampleImage(samples::SampleKind::CdRwNewFormat, "1.10"));
  WriteFile(directory_ / "2.20.BIN", samples::MakeSampleImage(samples::SampleKind::DvdRom, "2.20"));

  app::TFlashForm& form = Form(nullptr, program.string());
  form.FormCreate();
  ASSERT_TRUE(form.BuilderRole());
  auto* list = Control<QListWidget>(Control::FileListBox1);
  auto* button = Control<QPushButton>(Control::FlashButton);
  EXPECT_EQ(Bytes(view_.windowTitle()), " Flash Utility V1.0A for 1.00-1.99 [Buiding]");
  EXPECT_EQ(Bytes(Control<QLabel>(Control::SelectDriveLabel)->text()), "Select Model: ");
  EXPECT_EQ(Bytes(button->text()), "Build");
  EXPECT_FALSE(button->isEnabled());
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(Bytes(list->item(0)->text()), "1.10.BIN");

  // A click on a file enables Build; another model disables it and lists its own files.
  list->setCurrentRow(0);
  EXPECT_TRUE(button->isEnabled());
  ChooseEntry(1);
  EXPECT_EQ(Bytes(view_.windowTitle()), " Flash Utility V1.0A for 2.00-2.99 [Buiding]");
  EXPECT_FALSE(button->isEnabled());
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(Bytes(list->item(0)->text()), "2.20.BIN");

  ChooseEntry(0);
  list->setCurrentRow(0);
  BoxAnswerer user([](const SeenBox&) { return QMessageBox::Ok; });
  button->click();
  EXPECT_TRUE(user.Seen().empty());
  EXPECT_EQ(Bytes(Control<QGroupBox>(Control::GroupBox2)->title()), "Build 1.10.EXE complete!");
  const fs::path flasher = directory_ / "1.10.EXE";
  ASSERT_TRUE(fs::exists(flasher));
  EXPECT_EQ(fs::file_size(flasher), fs::file_size(program));
  EXPECT_NE(fs::status(flasher).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, AFlashRunGoesThroughTheWindowAndRefusesToClose) {
  // A copy of the sample drives: the update lock belongs to the file, and other tests scan the
  // sample file itself at the same time.
  const fs::path drives = directory_ / "drives.ini";
  fs::copy_file(ODFLASH_SOURCE_DIR "/data/sim/drives.ini", drives);
  std::string error;
  ASSERT_TRUE(drive::UseEmulatedDrivesFromFile(drives.string(), error)) << error;
  // The block a flasher built for the first emulated drive's model carries: the program's
  // marker, the header the builder writes and the image.
  const builder::ModelEntry model{"CDRW 48X24", "ODSIM   CDRW 48X24", "1.00-1.99", "ODSim", ""};
  const std::vector<std::uint8_t> image = samples::MakeSampleImage(samples::SampleKind::CdRwNewFormat, "1.10");
  const auto marker = payload::OwnPayloadBlock().Marker();
  const auto header = builder::MakePayloadHeader(model, "1.10.BIN", static_cast<std::uint32_t>(image.size()));
  std::vector<std::uint8_t> bytes(marker.begin(), marker.end());
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.insert(bytes.end(), image.begin(), image.end());
  const payload::PayloadBlock block(bytes.data(), bytes.size());

  // The user agrees to everything but the restart, and tries to close the window once the
  // update has started.
  bool closeTried = false;
  BoxAnswerer user([&](const SeenBox& box) {
    if (box.buttons == QMessageBox::StandardButtons(QMessageBox::Ok)) return QMessageBox::Ok;
    if (box.text.find("restarted") != std::string::npos) return QMessageBox::No;
    if (box.text.find("Update Firmware") != std::string::npos && !closeTried) {
      closeTried = true;
      QTimer::singleShot(0, &view_, [this] { view_.close(); });
    }
    return QMessageBox::Yes;
  });
  app::TFlashForm& form = Form(&block);
  form.FormCreate();
  ASSERT_FALSE(form.BuilderRole());
  EXPECT_EQ(Bytes(view_.windowTitle()), "ODSIM Flash Utility V1.0A for CDRW 48X24");
  EXPECT_EQ(Bytes(Control<QLabel>(Control::SelectDriveLabel)->text()), "Select the brevant drive you want to update:");
  EXPECT_FALSE(view_.ControlWidget(Control::FileListBox1)->isVisibleTo(&view_));
  ASSERT_EQ(view_.EntryCount(), 1);
  view_.show();

  Control<QPushButton>(Control::FlashButton)->click();
  ASSERT_TRUE(closeTried);
  // The handler returns when the run is over: confirmation, update question, refusal to
  // close and restart question have all been answered.
  ASSERT_EQ(user.Seen().size(), 4u);

  std::vector<std::string> titles;
  for (const auto& box : user.Seen()) titles.push_back(box.title);
  // The refusal comes while the run goes on: before the restart question or over it.
  EXPECT_EQ(titles.front(), "Warning");
  EXPECT_EQ(titles[1], "Confirm");
  EXPECT_EQ(std::count(titles.begin(), titles.end(), "Warning"), 2);
  bool refusalShown = false;
  for (const auto& box : user.Seen())
    refusalShown |= box.text.rfind("A firmware update is in progress.\n", 0) == 0;
  EXPECT_TRUE(refusalShown);
  EXPECT_TRUE(view_.isVisible());
  EXPECT_EQ(Bytes(Control<QGroupBox>(Control::GroupBox2)->title()), "Flash Completed.");
  EXPECT_EQ(view_.Entry(0).substr(view_.Entry(0).size() - 4), "1.10");
  EXPECT_TRUE(Control<QPushButton>(Control::FlashButton)->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(drive::EmulatedMachine()->Drive(0).CommitCount(), 1u);
  EXPECT_EQ(restarter_.requests, 0);

  // With the run over, the window may close.
  EXPECT_TRUE(view_.close());
}

} // namespace
