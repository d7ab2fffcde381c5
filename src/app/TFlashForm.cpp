#include "app/TFlashForm.h"

#include <algorithm>
#include <exception>

#include "builder/FlasherWriter.h"
#include "drive/Cddrive.h"
#include "drive/Cddrives.h"
#include "flash/Eligibility.h"
#include "flash/FlashProcedure.h"
#include "payload/ImageKind.h"
#include "payload/IntegrityRecord.h"
#include "payload/RoutineStore.h"
#include "sys/Directory.h"
#include "sys/Files.h"
#include "sys/Text.h"

namespace app {
namespace {

constexpr const char* kBuilderCaptionSuffix = " [Buiding]";
constexpr const char* kFlashingLabel = "Select the brevant drive you want to update:";
constexpr const char* kBuilderLabel = "Select Model: ";
constexpr const char* kCloseRefused =
    "A firmware update is in progress.\n"
    "Closing the window now could leave the drive without working firmware.\n"
    "Please wait until the update has finished.";

// The drive's update lock was refused: refusal says why ("it is being updated by ...").
std::string DriveInUseText(const drive::CDDrive& drive, const std::string& refusal) {
  return "The drive " + drive.IdentityText + " cannot be updated now: " + refusal +
         ".\nNothing was sent to it.";
}

std::string ConfirmationText(const payload::PayloadTexts& texts) {
  std::string text = "\nWARNING:\n";
  if (texts.AnyFirmware) {
    text += "\nThis flash utility only supports " + texts.VendorName + " " + texts.ModelName + " drive. " +
            "\nWe recommend you close all applications in order to run this update!" +
            "\nDon't turn off the system while flash is in progress! " + "\n\nDo you wish to continue?\n";
  } else {
    text += "\nThis flash utility only supports " + texts.VendorName + " " + texts.ModelName +
            " drive with firmware:" + texts.FirmwareRange +
            "\nWe recommend you close all applications in order to run this update! " +
            "\nDon't turn off the system while the flash is in progress!" + "\n\nDo you wish to continue?\n";
  }
  return text;
}

// The start of the report shown when no drive fits; the drives found are appended to it.
std::string ErrorReportStart(const payload::PayloadTexts& texts) {
  std::string text = "\nERROR:\n";
  if (texts.AnyFirmware) {
    text += "\nCan't found " + texts.ModelName + " drive !\n" + "\nThis flash utility only supports " +
            texts.ModelName + "\n";
  } else {
    text += "\nCan't found " + texts.ModelName + " firmware: " + texts.FirmwareRange + " drive !\n" +
            "\nThis flash utility only supports " + texts.ModelName + " firmware: " + texts.FirmwareRange + "\n";
  }
  return text;
}

// The drives that enumeration left alone because another odflash process is updating them, one
// line each, for the end of the report shown when no drive fits; empty when there are none.
std::string BusyDrivesText(const std::vector<std::string>& busyDevicePaths) {
  std::string text;
  for (const std::string& path : busyDevicePaths)
    text += "Drive " + path + " was not probed: " + drive::kRefusedBeingUpdated + ".\n";
  return text.empty() ? text : "\n" + text;
}

// The build's progress and messages, on the window.
class FormBuildSink final : public builder::BuildSink {
public:
  explicit FormBuildSink(FormView& view) : view_(view) {}
  void SetGroupCaption(const std::string& caption) override { view_.SetGroupCaption(caption); }
  void SetupProgress(std::uint64_t maximum, std::uint32_t step) override {
    maximum_ = maximum;
    step_ = step;
    view_.SetProgressRange(0, static_cast<int>(maximum));
    SetProgressPosition(0);
  }
  void StepProgress(std::uint64_t steps) override { SetProgressPosition(position_ + steps * step_); }
  void SetProgressPosition(std::uint64_t position) override {
    // A progress bar stops at its maximum.
    position_ = std::min(position, maximum_);
    view_.SetProgressPosition(static_cast<int>(position_));
  }
  void ShowMessage(const std::string& text) override {
    view_.Show(text, sys::MessageKind::Plain, sys::MessageButtons::Ok);
  }

private:
  FormView& view_;
  std::uint64_t maximum_ = 0, position_ = 0;
  std::uint32_t step_ = 0;
};

// Runs its action when the scope is left, by return or by exception.
template <typename Action> class ScopeExit {
public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

private:
  Action action_;
};

} // namespace

// The flash procedure's captions, progress and questions, on the window. It may be called
// from the worker thread that runs the procedure; the view brings every call to its own thread.
class FormFlashSink final : public flash::FlashSink {
public:
  explicit FormFlashSink(FormView& view) : view_(view) {}
  // The ComboBox entry of the drive being flashed, replaced by its fresh identity at the end.
  void SetDriveEntry(int entry) { driveEntry_ = entry; }

  void SetStatus(const std::string& text) override {
    status_ = text;
    view_.SetGroupCaption(status_);
  }
  void AppendStatus(const std::string& suffix) override {
    status_ += suffix;
    view_.SetGroupCaption(status_);
  }
  void SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t) override {
    view_.SetProgressRange(static_cast<int>(minimum), static_cast<int>(maximum));
  }
  void SetProgressPosition(std::uint32_t position) override { view_.SetProgressPosition(static_cast<int>(position)); }
  void ShowMessage(const std::string& text, sys::MessageKind kind) override {
    view_.Show(text, kind, sys::MessageButtons::Ok);
  }
  bool Ask(const std::string& text, sys::MessageKind kind) override {
    return view_.Show(text, kind, sys::MessageButtons::YesNo) == sys::MessageAnswer::Yes;
  }
  void SetBusy(bool busy) override { view_.SetCursor(busy ? Cursor::Hourglass : Cursor::Default); }
  void DriveRefreshed(const std::string& identity) override {
    if (driveEntry_ < 0) return;
    view_.InsertEntry(driveEntry_, identity);
    view_.DeleteEntry(driveEntry_ + 1);
    view_.SelectEntry(driveEntry_);
  }

private:
  FormView& view_;
  std::string status_;
  int driveEntry_ = -1;
};

TFlashForm::TFlashForm(FormView& view, FormEnvironment environment)
    : view_(view), environment_(std::move(environment)),
      payload_(environment_.payload ? *environment_.payload : payload::OwnPayloadBlock()) {}

TFlashForm::~TFlashForm() = default;

template <typename Handler> void TFlashForm::Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    view_.Show(failure.what(), sys::MessageKind::Error, sys::MessageButtons::Ok);
  } catch (...) {
    view_.Show("Unexpected error.", sys::MessageKind::Error, sys::MessageButtons::Ok);
  }
}

void TFlashForm::FormCreate() {
  bool completed = false;
  Guarded([&] {
    DoFormCreate();
    completed = true;
  });
  // A start-up that failed half-way leaves no half-made window behind.
  if (!completed) EndStartUp(true);
}

void TFlashForm::DoFormCreate() {
  flashRequest_ = {};
  transferBuffer_.reset();
  flashSink_ = std::make_unique<FormFlashSink>(view_);
  procedure_ = std::make_unique<flash::FlashProcedure>(
      *flashSink_, environment_.sleeper ? *environment_.sleeper : sys::SystemSleeper(),
      environment_.restarter ? *environment_.restarter : sys::SystemRestarter());
  view_.SetCaption(kTitleText);
  if (payload_.HasBuilderTag()) {
    role_ = Role::Builder;
    StartBuilderRole();
  } else {
    role_ = Role::Flashing;
    StartFlashingRole();
  }
}

void TFlashForm::EndStartUp(bool closeWindow) {
  view_.RequestQuit(0);
  if (closeWindow) view_.Close();
}

void TFlashForm::StartBuilderRole() {
  const std::string directory =
      environment_.currentDirectory.empty() ? sys::CurrentDirectory() : environment_.currentDirectory;
  // The file list's directory has room for 255 characters; a longer one is refused rather
  // than cut, since a cut path would name another directory.
  if (directory.size() >= kBuildDirectorySize) {
    view_.Show("The current directory is too long for the firmware file list (at most " +
                   std::to_string(kBuildDirectorySize - 1) + " characters):\n" + directory,
               sys::MessageKind::Error, sys::MessageButtons::Ok);
    EndStartUp(false);
    return;
  }
  buildDirectory_ = directory;
  if (!RetriveINI()) return;
  view_.SetFileListVisible(true);
  view_.SetLabel(kBuilderLabel);
  view_.SetButtonCaption("Build");
  view_.SetButtonEnabled(false);
}

bool TFlashForm::CheckIntegrity() {
  const std::span<const std::uint8_t> store =
      environment_.routineStore ? *environment_.routineStore : payload::OwnRoutineStore();
  const std::span<const std::uint8_t> record =
      environment_.integrityRecord ? *environment_.integrityRecord : payload::OwnIntegrityRecord();
  if (payload::CheckIntegrity(payload_, store, record) != payload::Integrity::Damaged) return true;
  view_.Show(payload::kDamagedFlasherText, sys::MessageKind::Error, sys::MessageButtons::Ok);
  return false;
}

void TFlashForm::StartFlashingRole() {
  // A damaged flasher would send a drive firmware nobody built: refused before anything else.
  if (!CheckIntegrity()) {
    EndStartUp(true);
    return;
  }
  texts_ = payload::MakePayloadTexts(payload_);
  view_.SetLabel(kFlashingLabel);
  if (view_.Show(ConfirmationText(texts_), sys::MessageKind::Warning, sys::MessageButtons::YesNo) !=
      sys::MessageAnswer::Yes) {
    EndStartUp(true);
    return;
  }
  view_.SetFileListVisible(false);
  view_.SetCaption(texts_.VendorName + kTitleText + texts_.ModelName);

  std::string report = ErrorReportStart(texts_);
  driveList_ = std::make_unique<drive::CDDrives>();
  if (driveList_->Count() == 0) {
    report += "\nCan't find ATAPI Drive !\n" + BusyDrivesText(driveList_->BusyDevicePaths());
    view_.SelectEntry(-1);
    view_.Show(report, sys::MessageKind::Error, sys::MessageButtons::Ok);
    EndStartUp(true);
    return;
  }
  report += "\nDetected drives:\n" + std::string(59, '-') + "\n";
  for (const flash::DriveFit& found : flash::MatchDrives(*driveList_, texts_)) {
    // The list shows each drive as it answers INQUIRY now.
    const std::string identity = found.drive->GetIdentity();
    if (!found.fits) {
      report += identity + "\n";
    } else if (driveIndex_.size() < kDriveIndexSize) {
      view_.AddEntry(identity);
      driveIndex_.push_back(found.index);
    }
  }
  if (driveIndex_.empty()) {
    report += BusyDrivesText(driveList_->BusyDevicePaths());
    view_.Show(report, sys::MessageKind::Error, sys::MessageButtons::Ok);
    EndStartUp(true);
    return;
  }
  view_.SelectEntry(0);
  driveList_->Select(driveIndex_.front());
  transferBuffer_ = std::make_unique<std::uint8_t[]>(kTransferBufferSize);
  driveList_->Current()->SetBuffer(transferBuffer_.get(), kTransferBufferSize);
  CheckNewFormatBIN();
  SelectDriveOfEntry();
}

void TFlashForm::CheckNewFormatBIN() { flashRequest_ = flash::MakeFlashRequest(payload_); }

bool TFlashForm::CheckCondition() {
  if (!driveList_ || !driveList_->Current()) return false;
  return flash::DriveFits(texts_, *driveList_->Current());
}

void TFlashForm::FormDestroy() {
  Guarded([this] {
    modelTable_ = {};
    selectedDrive_ = nullptr;
    driveList_.reset();
    // The drive layer must not keep a pointer into the freed block.
    if (transferBuffer_ && drive::CDDrive::GetBuffer() == transferBuffer_.get()) drive::CDDrive::SetBuffer(nullptr, 0);
    transferBuffer_.reset();
    procedure_.reset();
    flashSink_.reset();
  });
}

void TFlashForm::ComboBoxChange() {
  Guarded([this] {
    if (role_ == Role::Builder)
      SelectModelOfEntry();
    else
      SelectDriveOfEntry();
  });
}

void TFlashForm::SelectDriveOfEntry() {
  // Text typed into the editable box selects no entry: the selection stays as it was.
  const int entry = view_.SelectedEntry();
  if (!driveList_ || entry < 0 || entry >= static_cast<int>(driveIndex_.size())) return;
  driveList_->Select(driveIndex_[static_cast<std::size_t>(entry)]);
  selectedDrive_ = driveList_->Current();
}

const builder::ModelSection* TFlashForm::ModelOfEntry() const {
  const int entry = view_.SelectedEntry();
  if (entry < 0 || entry >= static_cast<int>(modelTable_.Count())) return nullptr;
  return &modelTable_.Sections[static_cast<std::size_t>(entry)];
}

void TFlashForm::SelectModelOfEntry() {
  const builder::ModelSection* model = ModelOfEntry();
  if (!model) return;
  view_.SetFiles(sys::ListFiles(buildDirectory_, model->BINMask));
  view_.SetCaption(texts_.VendorName + kTitleText + sys::PrintableText(model->Entry.FirmwareRange) +
                   kBuilderCaptionSuffix);
  view_.SetButtonEnabled(false);
}

std::string TFlashForm::ProgramPath() const {
  return environment_.programPath.empty() ? sys::ModulePath() : environment_.programPath;
}

bool TFlashForm::RetriveINI() {
  modelTable_ = {};
  builder::ModelTableLoad load = builder::LoadModelTable(builder::ModelFileName(ProgramPath()));
  if (!load.Loaded) {
    view_.Show(load.Message, sys::MessageKind::Plain, sys::MessageButtons::Ok);
    view_.RequestQuit(0);
    return false;
  }
  modelTable_ = std::move(load.Table);
  for (const builder::ModelSection& section : modelTable_.Sections) view_.AddEntry(sys::PrintableText(section.Item));
  view_.SelectEntry(0);
  SelectModelOfEntry();
  return true;
}

void TFlashForm::FileListBox1Click() {
  Guarded([this] {
    const std::string file = view_.SelectedFile();
    if (file.empty()) return;
    selectedFileName_ = sys::FileNameOf(file);
    view_.SetButtonEnabled(true);
  });
}

void TFlashForm::FlashButtonClick() {
  Guarded([this] {
    if (flashInProgress_) return;
    if (role_ == Role::Builder)
      BuildFlasher();
    else
      FlashSelectedDrive();
  });
}

void TFlashForm::BuildFlasher() {
  builder::BuildRequest request;
  request.ProgramPath = ProgramPath();
  request.ModelFilePath = builder::ModelFileName(ProgramPath());
  request.FirmwarePath = sys::JoinPath(buildDirectory_, selectedFileName_);
  request.SelectedFileName = selectedFileName_;
  request.OutputDirectory = buildDirectory_;
  if (const builder::ModelSection* model = ModelOfEntry()) request.Model = model->Entry;
  FormBuildSink sink(view_);
  view_.SetCursor(Cursor::Hourglass);
  const ScopeExit restoreCursor([this] { view_.SetCursor(Cursor::Default); });
  builder::NewBuildFlashProgram(request, sink);
}

void TFlashForm::FlashSelectedDrive() {
  if (!selectedDrive_ || !driveList_ || !procedure_) return;
  // The entry to refresh is the selected drive's, whatever text was typed into the box.
  const auto shown = std::find(driveIndex_.begin(), driveIndex_.end(), driveList_->CurrentIndex());
  flashSink_->SetDriveEntry(shown == driveIndex_.end() ? -1 : static_cast<int>(shown - driveIndex_.begin()));

  // Held until the run ends: no other odflash process may update or even probe the drive.
  std::string refusal;
  const std::unique_ptr<drive::UpdateLock> updateLock = selectedDrive_->LockForUpdate(refusal);
  if (!updateLock) {
    view_.Show(DriveInUseText(*selectedDrive_, refusal), sys::MessageKind::Error, sys::MessageButtons::Ok);
    return;
  }
  // Programs that may still send the drive commands: the user can close them or decline the
  // update question that follows.
  if (!updateLock->Warnings.empty()) {
    std::string text = "Before updating the drive " + selectedDrive_->IdentityText + ":";
    for (const std::string& warning : updateLock->Warnings) text += "\n" + warning + ".";
    view_.Show(text, sys::MessageKind::Warning, sys::MessageButtons::Ok);
  }

  // The run goes on a worker while the window keeps painting; until it ends the inputs are
  // off and the window refuses to close.
  flashInProgress_ = true;
  view_.SetInputEnabled(false);
  const ScopeExit endRun([this] {
    flashInProgress_ = false;
    view_.SetInputEnabled(true);
  });
  drive::CDDrive& drive = *selectedDrive_;
  view_.RunLongOperation([&] { procedure_->Run(drive, flashRequest_); });
}

bool TFlashForm::CheckDisc() {
  if (!selectedDrive_ || !driveList_ || !driveList_->Current()) return false;
  // PLAY AUDIO(10) from block 75 for 0x6000 blocks.
  selectedDrive_->Execute(0x45, 0x00, 0x00, 0x00, 0x00, 0x4B, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 1, 8);
  return !driveList_->Current()->LastOutcome().SenseMatches(0, 0, 0);
}

bool TFlashForm::FormCloseQuery() {
  if (!flashInProgress_) return true;
  view_.Show(kCloseRefused, sys::MessageKind::Warning, sys::MessageButtons::Ok);
  return false;
}

} // namespace app
