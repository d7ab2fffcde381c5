#pragma once
// The main window as a Qt 6 Widgets window: the controls of the layout table under the shared
// FormView. Handlers go to the presenter; calls from a worker thread are queued to the
// window's thread.

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/ThreadedFormView.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace gui {

class QtFormView final : public QWidget, public app::ThreadedFormView {
public:
  // Creates the window and its controls, hidden.
  QtFormView();
  ~QtFormView() override;
  QtFormView(const QtFormView&) = delete;
  QtFormView& operator=(const QtFormView&) = delete;

  // Also tells the presenter the window is gone.
  int Run() override;

  // The widget of a control of the layout table (for tests and screenshots).
  QWidget* ControlWidget(app::Control control) const;

protected:
  void closeEvent(QCloseEvent* event) override;

  void Post(std::function<void()> action, bool wait) const override;
  sys::MessageAnswer ShowBox(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) override;
  void SetControlText(app::Control control, const std::string& text) override;
  void SetControlEnabled(app::Control control, bool enabled) override;
  void SetControlVisible(app::Control control, bool visible) override;
  void InsertItem(int index, const std::string& text) override;
  void DeleteItem(int index) override;
  int SelectedItem() const override;
  void SelectItem(int index) override;
  void ReplaceFiles(const std::vector<std::string>& names) override;
  int SelectedFileRow() const override;
  void ShowProgressRange(int minimum, int maximum) override;
  void ShowProgressPosition(int position) override;
  void ShowCursor(app::Cursor cursor) override;
  void QuitLoop(int exitCode) override;
  void RunEventsUntil(const std::atomic<bool>& finished) override;

private:
  void CreateControls();

  QFrame* panel_ = nullptr;
  QLabel* label_ = nullptr;
  QComboBox* comboBox_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QGroupBox* groupBox_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* button_ = nullptr;

  app::Cursor cursor_ = app::Cursor::Default;
  int exitCode_ = 0;
  bool eventLoopRunning_ = false;
  int longOperations_ = 0;
  bool destroyed_ = false;
};

} // namespace gui
