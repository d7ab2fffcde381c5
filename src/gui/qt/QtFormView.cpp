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

#include "app/TFlashForm.h"
#include "gui/qt/QtMessageBox.h"

namespace gui {
namespace {

void PlaceAt(QWidget* widget, app::Control control) {
  const auto& layout = app::LayoutOf(control);
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
  const auto& form = app::LayoutOf(app::Control::FlashForm);
  const auto& panel = app::LayoutOf(app::Control::Panel1);
  setFixedSize(panel.width, panel.height);
  move(form.left, form.top);
  CreateControls();

  // Logging out or shutting down must not cut a flash off either.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    if (FlashRunning()) manager.cancel();
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
  if (!StartUpEnded()) {
    show();
    comboBox_->setFocus();
    eventLoopRunning_ = true;
    const int loopCode = QApplication::exec();
    eventLoopRunning_ = false;
    if (!QuitRequested()) exitCode_ = loopCode;
  }
  if (!destroyed_) {
    destroyed_ = true;
    Dispatch(&app::TFlashForm::FormDestroy);
  }
  return exitCode_;
}

void QtFormView::QuitLoop(int exitCode) {
  exitCode_ = exitCode;
  // A drive operation in progress keeps its own loop running; the request waits for its end.
  if (eventLoopRunning_ && longOperations_ == 0) QCoreApplication::exit(exitCode);
}

void QtFormView::closeEvent(QCloseEvent* event) {
  // A flash must not be cut off: the presenter may refuse.
  if (!MayClose()) {
    event->ignore();
    return;
  }
  event->accept();
  EndLoop(0);
}

void QtFormView::Post(std::function<void()> action, bool wait) const {
  auto* self = const_cast<QtFormView*>(this);
  QMetaObject::invokeMethod(self, std::move(action), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

sys::MessageAnswer QtFormView::ShowBox(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) {
  // The hourglass belongs to the window, not to the box the user must answer.
  const bool busy = cursor_ == app::Cursor::Hourglass;
  if (busy) QApplication::restoreOverrideCursor();
  const sys::MessageAnswer answer = ShowMessageBox(isVisible() ? this : nullptr, text, kind, buttons);
  if (busy) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  return answer;
}

void QtFormView::SetControlText(app::Control control, const std::string& text) {
  const QString shown = ToQString(text);
  switch (control) {
  case app::Control::FlashForm: setWindowTitle(shown); break;
  case app::Control::SelectDriveLabel: label_->setText(shown); break;
  case app::Control::GroupBox2:
    groupBox_->setTitle(shown);
    // The caption must be seen before the next drive command, not at the next idle paint.
    groupBox_->repaint();
    break;
  case app::Control::FlashButton: button_->setText(shown); break;
  default: break;
  }
}

void QtFormView::SetControlEnabled(app::Control control, bool enabled) { ControlWidget(control)->setEnabled(enabled); }

void QtFormView::SetControlVisible(app::Control control, bool visible) { ControlWidget(control)->setVisible(visible); }

void QtFormView::InsertItem(int index, const std::string& text) { comboBox_->insertItem(index, ToQString(text)); }

void QtFormView::DeleteItem(int index) { comboBox_->removeItem(index); }

int QtFormView::SelectedItem() const {
  const int current = comboBox_->currentIndex();
  // Text typed into the editable box leaves no entry selected, even though the list still
  // marks the last one.
  return current >= 0 && comboBox_->currentText() == comboBox_->itemText(current) ? current : -1;
}

void QtFormView::SelectItem(int index) {
  comboBox_->setCurrentIndex(index);
  if (index < 0) comboBox_->setEditText(QString());
}

void QtFormView::ReplaceFiles(const std::vector<std::string>& names) {
  // Refilling the list drops its selection; that is not the user's click.
  const QSignalBlocker blocker(fileList_);
  fileList_->clear();
  for (const auto& name : names) {
    auto* item = new QListWidgetItem(ToQString(name), fileList_);
    item->setSizeHint(QSize(0, app::kItemHeight));
  }
}

int QtFormView::SelectedFileRow() const {
  const QList<QListWidgetItem*> selected = fileList_->selectedItems();
  return selected.isEmpty() ? -1 : fileList_->row(selected.front());
}

void QtFormView::ShowProgressRange(int minimum, int maximum) { progressBar_->setRange(minimum, maximum); }

void QtFormView::ShowProgressPosition(int position) {
  progressBar_->setValue(position);
  progressBar_->repaint();
}

void QtFormView::ShowCursor(app::Cursor cursor) {
  if (cursor == cursor_) return;
  cursor_ = cursor;
  if (cursor == app::Cursor::Hourglass)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

void QtFormView::RunEventsUntil(const std::atomic<bool>& finished) {
  ++longOperations_;
  while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  // Whatever the worker queued last is shown before the handler goes on.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  --longOperations_;
  if (QuitRequested()) QuitLoop(exitCode_);
}

} // namespace gui
