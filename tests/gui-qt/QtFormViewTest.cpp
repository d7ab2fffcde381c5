// The Qt window's view on its own: the layout table, message boxes, entries and file names
// byte for byte, the enabled states, the cursor, and calls from a worker thread.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "QtTestSupport.h"
#include "gui/qt/QtFormView.h"

namespace {

using app::Control;
using guitest::BoxAnswerer;
using guitest::SeenBox;
using sys::MessageAnswer;
using sys::MessageButtons;
using sys::MessageKind;

class ViewTest : public ::testing::Test {
protected:
  template <typename Widget> Widget* Control(app::Control control) {
    return qobject_cast<Widget*>(view_.ControlWidget(control));
  }
  void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
  }
  // Qt needs its application object before the first widget.
  QApplication& application_ = guitest::Application();
  gui::QtFormView view_;
};

TEST_F(ViewTest, ControlsSitWhereTheLayoutPutsThem) {
  for (const auto& layout : app::kFormLayout) {
    SCOPED_TRACE(static_cast<int>(layout.control));
    QWidget* widget = view_.ControlWidget(layout.control);
    ASSERT_NE(widget, nullptr);
    if (layout.control == Control::FlashForm) {
      // The window sizes itself to Panel1.
      EXPECT_EQ(widget->pos(), QPoint(layout.left, layout.top));
      EXPECT_EQ(widget->size(), view_.ControlWidget(Control::Panel1)->size());
      EXPECT_EQ(widget->font().pixelSize(), -app::kFontHeight);
      EXPECT_TRUE(widget->font().bold());
      continue;
    }
    EXPECT_EQ(widget->geometry(), QRect(layout.left, layout.top, layout.width, layout.height));
    EXPECT_EQ(widget->parentWidget(), view_.ControlWidget(layout.parent));
    // Every control inherits the window's font.
    EXPECT_EQ(widget->font(), view_.font());
  }
  auto* progress = Control<QProgressBar>(Control::ProgressBar);
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), app::kProgressMaximum);
  EXPECT_EQ(guitest::Bytes(Control<QPushButton>(Control::FlashButton)->text()), "FLASH");
  EXPECT_TRUE(Control<QComboBox>(Control::ComboBox)->isEditable());
}

TEST_F(ViewTest, MessageBoxesHaveTheWindowsKindsTitlesAndButtons) {
  sys::SetApplicationTitle(app::kApplicationTitle);
  struct Case {
    MessageKind kind;
    MessageButtons buttons;
    QMessageBox::StandardButton press;
    const char* title;
    QMessageBox::Icon icon;
    MessageAnswer answer;
  };
  const Case cases[] = {
      {MessageKind::Plain, MessageButtons::Ok, QMessageBox::Ok, "VORMAL Windows Flash utility", QMessageBox::NoIcon, MessageAnswer::Ok},
      {MessageKind::Information, MessageButtons::Ok, QMessageBox::Ok, "Information", QMessageBox::Information, MessageAnswer::Ok},
      {MessageKind::Warning, MessageButtons::YesNo, QMessageBox::Yes, "Warning", QMessageBox::Warning, MessageAnswer::Yes},
      {MessageKind::Error, MessageButtons::Ok, QMessageBox::Ok, "Error", QMessageBox::Critical, MessageAnswer::Ok},
      {MessageKind::Confirmation, MessageButtons::YesNo, QMessageBox::No, "Confirm", QMessageBox::Question, MessageAnswer::No},
  };
  // Markup and leading line feeds are text like any other.
  const std::string text = "\nUpdate <b>Firmware</b> K4P5 to K4P9 ?\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    BoxAnswerer user([&](const SeenBox&) { return c.press; });
    EXPECT_EQ(view_.Show(text, c.kind, c.buttons), c.answer);
    ASSERT_EQ(user.Seen().size(), 1u);
    const SeenBox& box = user.Seen().front();
    EXPECT_EQ(box.title, c.title);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, c.icon);
    if (c.buttons == MessageButtons::YesNo) {
      EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(box.defaultButton, QMessageBox::Yes);
    } else {
      EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
  }
}

TEST_F(ViewTest, EscapeAnswersAQuestionWithNo) {
  BoxAnswerer user([&](const SeenBox&) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    Key(box, Qt::Key_Escape);
    return QMessageBox::NoButton;
  });
  EXPECT_EQ(view_.Show("Continue?", MessageKind::Warning, MessageButtons::YesNo), MessageAnswer::No);
}

TEST_F(ViewTest, EntriesAndFileNamesKeepTheirBytes) {
  // Big5 and Latin-1 bytes are not UTF-8; they must come back exactly as given.
  const std::string big5 = "0-1-0 E: \xA4\xA4\xA4\xE5 DRIVE";
  view_.AddEntry("0-0-0 D: ODSIM   CDRW 48X24      1.00");
  view_.AddEntry(big5);
  view_.InsertEntry(1, "inserted");
  EXPECT_EQ(view_.EntryCount(), 3);
  EXPECT_EQ(view_.Entry(1), "inserted");
  EXPECT_EQ(view_.Entry(2), big5);
  view_.DeleteEntry(1);
  EXPECT_EQ(view_.Entry(1), big5);
  EXPECT_EQ(view_.Entry(5), "");

  const std::vector<std::string> files = {"1.10.BIN", "caf\xE9.BIN"};
  view_.SetFiles(files);
  auto* list = Control<QListWidget>(Control::FileListBox1);
  EXPECT_EQ(view_.SelectedFile(), "");
  list->setCurrentRow(1);
  EXPECT_EQ(view_.SelectedFile(), files[1]);
  // A new list drops the selection.
  view_.SetFiles(files);
  EXPECT_EQ(view_.SelectedFile(), "");
}

TEST_F(ViewTest, TypedTextSelectsNoEntryAndIsNeverAdded) {
  auto* combo = Control<QComboBox>(Control::ComboBox);
  view_.AddEntry("first");
  view_.AddEntry("second");
  view_.SelectEntry(1);
  EXPECT_EQ(view_.SelectedEntry(), 1);
  combo->lineEdit()->setText("typed");
  EXPECT_EQ(view_.SelectedEntry(), -1);
  Key(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(view_.EntryCount(), 2);
  EXPECT_EQ(combo->count(), 2);
  view_.SelectEntry(0);
  EXPECT_EQ(view_.SelectedEntry(), 0);
  view_.SelectEntry(-1);
  EXPECT_EQ(view_.SelectedEntry(), -1);
}

TEST_F(ViewTest, TheButtonIsUsableOnlyWhenItAndTheInputsAreOn) {
  struct Step {
    bool isButton; // false: SetInputEnabled
    bool enabled;
    bool buttonUsable, inputsUsable;
  };
  const Step steps[] = {
      {true, false, false, true},  // Build waits for a file
      {false, false, false, false}, // a run starts
      {true, true, false, false},  // enabling the button does not beat the run
      {false, true, true, true},   // the run ends
      {true, false, false, true},
      {false, false, false, false},
      {false, true, false, true},  // the button stays off after the run
  };
  for (const auto& step : steps) {
    if (step.isButton)
      view_.SetButtonEnabled(step.enabled);
    else
      view_.SetInputEnabled(step.enabled);
    EXPECT_EQ(view_.ControlWidget(Control::FlashButton)->isEnabled(), step.buttonUsable);
    EXPECT_EQ(view_.ControlWidget(Control::ComboBox)->isEnabled(), step.inputsUsable);
    EXPECT_EQ(view_.ControlWidget(Control::FileListBox1)->isEnabled(), step.inputsUsable);
  }
}

TEST_F(ViewTest, TheHourglassComesAndGoesOnce) {
  view_.SetCursor(app::Cursor::Hourglass);
  view_.SetCursor(app::Cursor::Hourglass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  // A box asked for meanwhile shows the normal cursor.
  Qt::CursorShape duringBox = Qt::WaitCursor;
  {
    BoxAnswerer user([&](const SeenBox&) {
      duringBox = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
      return QMessageBox::Ok;
    });
    view_.Show("Open 1.10.BIN fail!", MessageKind::Plain, MessageButtons::Ok);
  }
  EXPECT_EQ(duringBox, Qt::ArrowCursor);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  view_.SetCursor(app::Cursor::Default);
  view_.SetCursor(app::Cursor::Default);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ViewTest, AWorkerReachesTheWindowInOrderWhileItKeepsRunning) {
  std::atomic<int> ticks{0};
  int ticksAfterAnswer = 0;
  QTimer heartbeat;
  QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++ticks; });
  heartbeat.start(1);
  BoxAnswerer user([](const SeenBox&) { return QMessageBox::Yes; });
  std::thread::id workerThread;
  MessageAnswer answer = MessageAnswer::Closed;
  int countSeenByWorker = 0;

  view_.RunLongOperation([&] {
    workerThread = std::this_thread::get_id();
    view_.AddEntry("0-0-0 D: ODSIM   CDRW 48X24      1.00");
    countSeenByWorker = view_.EntryCount();
    for (int position = 0; position <= 200; ++position) {
      view_.SetProgressPosition(position / 2);
      view_.SetGroupCaption("step " + std::to_string(position));
    }
    answer = view_.Show("\nUpdate Firmware 1.00 to 1.10 ?\n", MessageKind::Confirmation, MessageButtons::YesNo);
    // The window's own loop keeps running while the worker works: its timer ticks again.
    const int ticksAtAnswer = ticks;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ticks == ticksAtAnswer && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ticksAfterAnswer = ticks - ticksAtAnswer;
    view_.InsertEntry(0, "0-0-0 D: ODSIM   CDRW 48X24      1.10");
    view_.DeleteEntry(1);
    view_.SetGroupCaption("Flash Completed.");
  });

  EXPECT_NE(workerThread, std::this_thread::get_id());
  EXPECT_EQ(countSeenByWorker, 1);
  EXPECT_EQ(answer, MessageAnswer::Yes);
  EXPECT_GT(ticksAfterAnswer, 0);
  // Everything the worker asked for is on the window when the operation returns.
  EXPECT_EQ(guitest::Bytes(Control<QGroupBox>(Control::GroupBox2)->title()), "Flash Completed.");
  EXPECT_EQ(Control<QProgressBar>(Control::ProgressBar)->value(), 100);
  EXPECT_EQ(view_.EntryCount(), 1);
  EXPECT_EQ(view_.Entry(0), "0-0-0 D: ODSIM   CDRW 48X24      1.10");
}

TEST_F(ViewTest, AFailureOfTheWorkReachesTheHandler) {
  EXPECT_THROW(view_.RunLongOperation([] { throw std::runtime_error("drive gone"); }), std::runtime_error);
  // The window is usable afterwards.
  std::atomic<bool> ran{false};
  view_.RunLongOperation([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(ViewTest, TerminationSignalsWaitForTheEndOfTheOperation) {
  const int heldOff[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  for (const int signalNumber : heldOff) {
    SCOPED_TRACE(signalNumber);
    gui::QtFormView view;
    bool workFinished = false;
    view.RunLongOperation([&] {
      std::raise(signalNumber);
      workFinished = true;
    });
    EXPECT_TRUE(workFinished);
    // The program then ends at once, with the shell's code for the signal.
    EXPECT_EQ(view.Run(), 128 + signalNumber);
    EXPECT_FALSE(view.isVisible());
  }
}

} // namespace
