#pragma once
// The main window as a Qt 6 Widgets window: a thin FormView over the controls of the layout
// table. Handlers go to the presenter; calls from a worker thread are queued to the window's
// thread, so that the window keeps painting while a drive command runs.

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/FormView.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace app {
class TFlashForm;
}

namespace gui {

class QtFormView final : public QWidget, public app::FormView {
public:
  // Creates the window and its controls, hidden.
  QtFormView();
  ~QtFormView() override;
  QtFormView(const QtFormView&) = delete;
  QtFormView& operator=(const QtFormView&) = delete;

  // The presenter that receives the window's events (not owned).
  void Attach(app::TFlashForm* form) { form_ = form; }
  // Shows the window unless start-up closed it or asked to quit, then runs the event loop;
  // tells the presenter the window is gone and returns the exit code of the quit request.
  int Run();

  // The widget of a control of the layout table (for tests and screenshots).
  QWidget* ControlWidget(app::Control control) const;

  sys::MessageAnswer Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) override;
  void SetCaption(const std::string& text) override;
  void SetLabel(const std::string& text) override;
  void AddEntry(const std::string& text) override;
  void InsertEntry(int index, const std::string& text) override;
  void DeleteEntry(int index) override;
  int EntryCount() const override;
  std::string Entry(int index) const override;
  int SelectedEntry() const override;
  void SelectEntry(int index) override;
  void SetFileListVisible(bool visible) override;
  void SetFiles(const std::vector<std::string>& names) override;
  std::string SelectedFile() const override;
  void SetGroupCaption(const std::string& text) override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void SetButtonCaption(const std::string& text) override;
  void SetButtonEnabled(bool enabled) override;
  void SetInputEnabled(bool enabled) override;
  void SetCursor(app::Cursor cursor) override;
  void RequestQuit(int exitCode) override;
  void Close() override;
  void RunLongOperation(const std::function<void()>& work) override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateControls();
  // Runs the action on the window's thread: at once when called there, otherwise queued (and,
  // with wait, waited for). Queueing keeps the order of everything a worker asks of the window.
  void OnWindowThread(std::function<void()> action, bool wait) const;
  // Runs a presenter handler; nothing may escape into Qt's event dispatch.
  void Dispatch(void (app::TFlashForm::*handler)());
  void EndEventLoop(int exitCode);

  app::TFlashForm* form_ = nullptr;
  QFrame* panel_ = nullptr;
  QLabel* label_ = nullptr;
  QComboBox* comboBox_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QGroupBox* groupBox_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* button_ = nullptr;

  // The exact bytes of the entries and file names, which the widgets hold as Unicode.
  std::vector<std::string> entries_;
  std::vector<std::string> files_;
  app::Cursor cursor_ = app::Cursor::Default;
  bool buttonEnabled_ = true;
  bool inputEnabled_ = true;
  bool closed_ = false;
  bool quitRequested_ = false;
  int exitCode_ = 0;
  bool eventLoopRunning_ = false;
  int longOperations_ = 0;
  bool destroyed_ = false;
};

} // namespace gui
