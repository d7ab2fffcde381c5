#pragma once
// The main window's presenter: start-up and the choice of role, drive and model selection, the
// file list and the button, over a toolkit-neutral FormView. Front-ends forward the window's
// events to the handlers here and hold no logic of their own.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/FormView.h"
#include "builder/ModelTable.h"
#include "flash/FlashProcedure.h"
#include "payload/PayloadBlock.h"
#include "payload/PayloadTexts.h"

namespace drive {
class CDDrive;
class CDDrives;
} // namespace drive

namespace sys {
class Sleeper;
class Restarter;
} // namespace sys

namespace app {

// The text window captions are built around.
inline constexpr const char* kTitleText = " Flash Utility V1.0A for ";
inline constexpr std::size_t kDriveIndexSize = 20;
inline constexpr std::size_t kBuildDirectorySize = 256; // characters, terminator included
inline constexpr std::size_t kTransferBufferSize = 16384;

// What the window works with besides its view: the payload it carries, where the program
// lies and the directory it starts in. Front-ends take the defaults; tests pass their own.
struct FormEnvironment {
  const payload::PayloadBlock* payload = nullptr; // null: the program's own block
  std::string programPath;                        // empty: the running program's file
  std::string currentDirectory;                   // empty: the process's current directory
  sys::Sleeper* sleeper = nullptr;                // null: the real one
  sys::Restarter* restarter = nullptr;            // null: the system's
  // The routine store and integrity record the start-up's integrity check reads with payload;
  // nothing: the program's own blocks.
  std::optional<std::span<const std::uint8_t>> routineStore;
  std::optional<std::span<const std::uint8_t>> integrityRecord;
};

class FormFlashSink;

class TFlashForm {
public:
  TFlashForm(FormView& view, FormEnvironment environment = {});
  ~TFlashForm();
  TFlashForm(const TFlashForm&) = delete;
  TFlashForm& operator=(const TFlashForm&) = delete;

  // Event handlers. An exception escaping one is reported in an error box and the window
  // goes on; one escaping FormCreate ends the program (quit request, window closed).
  void FormCreate();
  void FormDestroy();
  void ComboBoxChange();
  void FileListBox1Click();
  void FlashButtonClick();
  // Whether the window may close now: not while a flash runs (the user is told why).
  bool FormCloseQuery();
  bool FlashInProgress() const { return flashInProgress_; }

  // Operations of the window.
  bool CheckCondition();
  bool CheckDisc();

  // State, for the front-ends and tests.
  bool BuilderRole() const { return role_ == Role::Builder; }
  const payload::PayloadTexts& PayloadTexts() const { return texts_; }
  const builder::ModelTable& ModelTable() const { return modelTable_; }
  const std::vector<int>& DriveIndex() const { return driveIndex_; }
  drive::CDDrive* SelectedDrive() const { return selectedDrive_; }
  drive::CDDrives* DriveList() const { return driveList_.get(); }
  const std::string& BuildDirectory() const { return buildDirectory_; }
  const std::string& SelectedFileName() const { return selectedFileName_; }
  // The length of the image a flash sends (0 before the flashing role's start-up found a drive).
  std::uint32_t ImageLength() const { return static_cast<std::uint32_t>(flashRequest_.image.size()); }
  // The flash procedure of the latest run (null before the first FormCreate).
  const flash::FlashProcedure* Procedure() const { return procedure_.get(); }

private:
  template <typename Handler> void Guarded(Handler handler);
  void DoFormCreate();
  void StartBuilderRole();
  void StartFlashingRole();
  // False, with the damaged flasher's error box shown, when the carried blocks do not match the
  // integrity record.
  bool CheckIntegrity();
  // Ends start-up: quit request with exit code 0, and the window closed when asked.
  void EndStartUp(bool closeWindow);
  void SelectDriveOfEntry();
  void SelectModelOfEntry();
  // The model of the ComboBox entry chosen, null when none is.
  const builder::ModelSection* ModelOfEntry() const;
  void BuildFlasher();
  void FlashSelectedDrive();
  bool RetriveINI();
  void CheckNewFormatBIN();
  std::string ProgramPath() const;

  FormView& view_;
  FormEnvironment environment_;
  const payload::PayloadBlock& payload_;

  builder::ModelTable modelTable_;

  payload::PayloadTexts texts_;
  std::string selectedFileName_;
  // Chosen once at start-up by the payload block: a builder tag makes the window a builder.
  enum class Role { Flashing, Builder };
  Role role_ = Role::Flashing;
  // What a flash of the selected drive sends: the carried image, its kind and the payload's markers.
  flash::FlashRequest flashRequest_;
  std::vector<int> driveIndex_; // at most kDriveIndexSize entries
  std::string buildDirectory_;
  drive::CDDrive* selectedDrive_ = nullptr;
  std::unique_ptr<drive::CDDrives> driveList_;
  std::unique_ptr<std::uint8_t[]> transferBuffer_;
  // The flash procedure keeps its chunk buffer and profile copy from run to run.
  std::unique_ptr<FormFlashSink> flashSink_;
  std::unique_ptr<flash::FlashProcedure> procedure_;
  std::atomic<bool> flashInProgress_{false};
};

} // namespace app
