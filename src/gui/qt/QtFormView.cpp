#include "gui/qt/QtFormView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QThread>

#include <atomic>
#include <exception>
#include <thread>

#include "app/TFlashForm.h"
#include "gui/qt/QtMessageBox.h"
#include "sys/UpdateGuard.h"

namespace gui {
namespace {

const app::ControlLayout& LayoutOf(app::Control control) {
  for (const auto& layout : app::kFormLayout) {
    if (layout.control == control) return layout;
  }
  return app::kFormLayout.front();
}

void PlaceAt(QWidget* widget, app::Control control) {
  const auto& layout = LayoutOf(control);
  widget->setGeometry(layout.left, layout.top, layout.width, layout.height);
}

QFont FormFont() {
  QFont font;
  // The window's font family rarely exists outside Windows. The stand-in is narrowed so that
  // the texts fit the fixed layout as they do in the original font (the flashing role's label
  // fills its 369 pixels).
  font.setFamilies({QString::fromLatin1(app::kFontName), QStringLiteral("DejaVu Sans")});
  font.setStretch(QFont::SemiCondensed);
  font.setPixelSize(-app::kFontHeight);
  font.setBold(app::kFontBold);
  return font;
}

} // namespace

QtFormView::QtFormView()
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setFont(FormFont());
  // The window sizes itself to its contents: its client area is exactly Panel1.
  const auto& form = LayoutOf(app::Control::FlashForm);
  const auto& panel = LayoutOf(app::Control::Panel1);
  setFixedSize(panel.width, panel.height);
  move(form.left, form.top);
  CreateControls();

  // Logging out or shutting down must not cut a flash off either.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    if (form_ && form_->FlashInProgress()) manager.cancel();
  });
}

QtFormView::~QtFormView() {
  if (cursor_ == app::Cursor::Hourglass) QApplication::restoreOverrideCursor();
}

void QtFormView::CreateControls() {
  panel_ = new QFrame(this);
  panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PlaceAt(panel_, app::Control::Panel1);

  label_ = new QLabel(panel_);
  label_->setTextFormat(Qt::PlainText);
  PlaceAt(label_, app::Control::SelectDriveLabel);

  comboBox_ = new QComboBox(panel_);
  comboBox_->setEditable(true);
  // Enter in the editable box must not add the typed text as an entry: entries are drives
  // or models, and the presenter's tables follow their positions.
  comboBox_->setInsertPolicy(QComboBox::NoInsert);
  comboBox_->setCompleter(nullptr);
  PlaceAt(comboBox_, app::Control::ComboBox);

  fileList_ = new QListWidget(panel_);
  fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
  fileList_->setUniformItemSizes(true);
  PlaceAt(fileList_, app::Control::FileListBox1);

  groupBox_ = new QGroupBox(panel_);
  // The frame starts half a line down and the status caption sits on its top edge, so that the
  // progress bar and the button stay inside it at their places in the layout.
  groupBox_->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                                          "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }")
                               .arg(-app::kFontHeight / 2));
  PlaceAt(groupBox_, app::Control::GroupBox2);

  progressBar_ = new QProgressBar(groupBox_);
  progressBar_->setRange(0, app::kProgressMaximum);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  PlaceAt(progressBar_, app::Control::ProgressBar);

  button_ = new QPushButton(QStringLiteral("FLASH"), groupBox_);
  button_->setAutoDefault(false);
  PlaceAt(button_, app::Control::FlashButton);
  // The group box's style sheet would otherwise hand its children the application font.
  progressBar_->setFont(font());
  button_->setFont(font());

  // Tab order of the layout: ComboBox, FileListBox1, then the group box's button.
  progressBar_->setFocusPolicy(Qt::NoFocus);
  setTabOrder(comboBox_, fileList_);
  setTabOrder(fileList_, button_);

  // Only the user's own actions reach the presenter: it calls its handlers itself after the
  // changes it makes, as the Windows controls notify only user changes.
  connect(comboBox_, &QComboBox::activated, this, [this](int) { Dispatch(&app::TFlashForm::ComboBoxChange); });
  connect(comboBox_->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString&) { Dispatch(&app::TFlashForm::ComboBoxChange); });
  connect(fileList_, &QListWidget::itemSelectionChanged, this,
          [this] { Dispatch(&app::TFlashForm::FileListBox1Click); });
  connect(button_, &QPushButton::clicked, this, [this] { Dispatch(&app::TFlashForm::FlashButtonClick); });
}

QWidget* QtFormView::ControlWidget(app::Control control) const {
  switch (control) {
  case app::Control::FlashForm: return const_cast<QtFormView*>(this);
  case app::Control::Panel1: return panel_;
  case app::Control::SelectDriveLabel: return label_;
  case app::Control::ComboBox: return comboBox_;
  case app::Control::FileListBox1: return fileList_;
  case app::Control::GroupBox2: return groupBox_;
  case app::Control::ProgressBar: return progressBar_;
  case app::Control::FlashButton: return button_;
  }
  return nullptr;
}

int QtFormView::Run() {
  // Start-up that ended (declined, no drive, no model file) leaves nothing to show.
  if (!quitRequested_ && !closed_) {
    show();
    comboBox_->setFocus();
    eventLoopRunning_ = true;
    const int loopCode = QApplication::exec();
    eventLoopRunning_ = false;
    if (!quitRequested_) exitCode_ = loopCode;
  }
  if (!destroyed_) {
    destroyed_ = true;
    Dispatch(&app::TFlashForm::FormDestroy);
  }
  return exitCode_;
}

void QtFormView::EndEventLoop(int exitCode) {
  quitRequested_ = true;
  exitCode_ = exitCode;
  // A drive operation in progress keeps its own loop running; the request waits for its end.
  if (eventLoopRunning_ && longOperations_ == 0) QCoreApplication::exit(exitCode);
}

void QtFormView::closeEvent(QCloseEvent* event) {
  // A flash must not be cut off: the presenter may refuse.
  bool mayClose = true;
  if (form_) {
    try {
      mayClose = form_->FormCloseQuery();
    } catch (...) {
    }
  }
  if (!mayClose) {
    event->ignore();
    return;
  }
  event->accept();
  EndEventLoop(0);
}

void QtFormView::Dispatch(void (app::TFlashForm::*handler)()) {
  if (!form_) return;
  try {
    (form_->*handler)();
  } catch (const std::exception& failure) {
    ShowMessageBox(this, failure.what(), sys::MessageKind::Error, sys::MessageButtons::Ok);
  } catch (...) {
    ShowMessageBox(this, "Unexpected error.", sys::MessageKind::Error, sys::MessageButtons::Ok);
  }
}

void QtFormView::OnWindowThread(std::function<void()> action, bool wait) const {
  if (QThread::currentThread() == thread()) {
    action();
    return;
  }
  auto* self = const_cast<QtFormView*>(this);
  QMetaObject::invokeMethod(self, std::move(action), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

sys::MessageAnswer QtFormView::Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) {
  sys::MessageAnswer answer = sys::MessageAnswer::Closed;
  OnWindowThread(
      [&] {
        // The hourglass belongs to the window, not to the box the user must answer.
        const bool busy = cursor_ == app::Cursor::Hourglass;
        if (busy) QApplication::restoreOverrideCursor();
        answer = ShowMessageBox(isVisible() ? this : nullptr, text, kind, buttons);
        if (busy) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
      },
      true);
  return answer;
}

void QtFormView::SetCaption(const std::string& text) {
  OnWindowThread([this, text] { setWindowTitle(ToQString(text)); }, false);
}

void QtFormView::SetLabel(const std::string& text) {
  OnWindowThread([this, text] { label_->setText(ToQString(text)); }, false);
}

void QtFormView::AddEntry(const std::string& text) {
  OnWindowThread(
      [this, text] {
        entries_.push_back(text);
        comboBox_->addItem(ToQString(text));
      },
      false);
}

void QtFormView::InsertEntry(int index, const std::string& text) {
  OnWindowThread(
      [this, index, text] {
        if (index < 0 || index > static_cast<int>(entries_.size())) return;
        entries_.insert(entries_.begin() + index, text);
        comboBox_->insertItem(index, ToQString(text));
      },
      false);
}

void QtFormView::DeleteEntry(int index) {
  OnWindowThread(
      [this, index] {
        if (index < 0 || index >= static_cast<int>(entries_.size())) return;
        entries_.erase(entries_.begin() + index);
        comboBox_->removeItem(index);
      },
      false);
}

int QtFormView::EntryCount() const {
  int count = 0;
  OnWindowThread([&] { count = static_cast<int>(entries_.size()); }, true);
  return count;
}

std::string QtFormView::Entry(int index) const {
  std::string text;
  OnWindowThread(
      [&] {
        if (index >= 0 && index < static_cast<int>(entries_.size())) text = entries_[static_cast<std::size_t>(index)];
      },
      true);
  return text;
}

int QtFormView::SelectedEntry() const {
  int selected = -1;
  OnWindowThread(
      [&] {
        const int current = comboBox_->currentIndex();
        // Text typed into the editable box leaves no entry selected, even though the list
        // still marks the last one.
        if (current >= 0 && comboBox_->currentText() == comboBox_->itemText(current)) selected = current;
      },
      true);
  return selected;
}

void QtFormView::SelectEntry(int index) {
  OnWindowThread(
      [this, index] {
        if (index < 0 || index >= comboBox_->count()) {
          comboBox_->setCurrentIndex(-1);
          comboBox_->setEditText(QString());
        } else {
          comboBox_->setCurrentIndex(index);
        }
      },
      false);
}

void QtFormView::SetFileListVisible(bool visible) {
  OnWindowThread([this, visible] { fileList_->setVisible(visible); }, false);
}

void QtFormView::SetFiles(const std::vector<std::string>& names) {
  OnWindowThread(
      [this, names] {
        // Refilling the list drops its selection; that is not the user's click.
        const QSignalBlocker blocker(fileList_);
        fileList_->clear();
        files_ = names;
        for (const auto& name : names) {
          auto* item = new QListWidgetItem(ToQString(name), fileList_);
          item->setSizeHint(QSize(0, app::kItemHeight));
        }
      },
      false);
}

std::string QtFormView::SelectedFile() const {
  std::string name;
  OnWindowThread(
      [&] {
        const QList<QListWidgetItem*> selected = fileList_->selectedItems();
        if (selected.isEmpty()) return;
        const int row = fileList_->row(selected.front());
        if (row >= 0 && row < static_cast<int>(files_.size())) name = files_[static_cast<std::size_t>(row)];
      },
      true);
  return name;
}

void QtFormView::SetGroupCaption(const std::string& text) {
  OnWindowThread(
      [this, text] {
        groupBox_->setTitle(ToQString(text));
        // The caption must be seen before the next drive command, not at the next idle paint.
        groupBox_->repaint();
      },
      false);
}

void QtFormView::SetProgressRange(int minimum, int maximum) {
  OnWindowThread([this, minimum, maximum] { progressBar_->setRange(minimum, maximum); }, false);
}

void QtFormView::SetProgressPosition(int position) {
  OnWindowThread(
      [this, position] {
        progressBar_->setValue(position);
        progressBar_->repaint();
      },
      false);
}

void QtFormView::SetButtonCaption(const std::string& text) {
  OnWindowThread([this, text] { button_->setText(ToQString(text)); }, false);
}

void QtFormView::SetButtonEnabled(bool enabled) {
  OnWindowThread(
      [this, enabled] {
        buttonEnabled_ = enabled;
        button_->setEnabled(enabled && inputEnabled_);
      },
      false);
}

void QtFormView::SetInputEnabled(bool enabled) {
  OnWindowThread(
      [this, enabled] {
        inputEnabled_ = enabled;
        comboBox_->setEnabled(enabled);
        fileList_->setEnabled(enabled);
        button_->setEnabled(enabled && buttonEnabled_);
      },
      false);
}

void QtFormView::SetCursor(app::Cursor cursor) {
  OnWindowThread(
      [this, cursor] {
        if (cursor == cursor_) return;
        cursor_ = cursor;
        if (cursor == app::Cursor::Hourglass)
          QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        else
          QApplication::restoreOverrideCursor();
      },
      false);
}

void QtFormView::RequestQuit(int exitCode) {
  OnWindowThread([this, exitCode] { EndEventLoop(exitCode); }, false);
}

void QtFormView::Close() {
  OnWindowThread(
      [this] {
        closed_ = true;
        hide();
      },
      false);
}

void QtFormView::RunLongOperation(const std::function<void()>& work) {
  // Neither a sleep, a shutdown, Ctrl+C nor a closed terminal may end a flash half-way.
  const sys::UpdateGuard guard(app::kApplicationTitle);
  ++longOperations_;
  std::atomic<bool> finished{false};
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    // Wakes the window's loop below, after everything the worker queued before.
    QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
  });

  // The window's own events go on meanwhile: it paints, answers the worker's queued calls and
  // refuses to close. A quit request waits for the end.
  while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  worker.join();
  // Whatever the worker queued last is shown before the handler goes on.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  --longOperations_;
  // A termination signal held off during the operation ends the program now that it is over,
  // with the shell's exit code for that signal.
  if (const int held = sys::HeldRequestExitCode(); held != 0 && !quitRequested_) EndEventLoop(held);
  if (quitRequested_) EndEventLoop(exitCode_);
  if (failure) std::rethrow_exception(failure);
}

} // namespace gui
