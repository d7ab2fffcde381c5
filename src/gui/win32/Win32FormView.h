#pragma once
// The main window as a native Win32 window: a thin FormView over the controls of the layout
// table. Handlers go to the presenter; calls from a worker thread are posted to the window's
// thread, so that the window keeps painting while a drive command runs.

#include <windows.h>

#include <functional>
#include <string>

#include "app/FormView.h"

namespace app {
class TFlashForm;
}

namespace gui {

class Win32FormView final : public app::FormView {
public:
  // Creates the window and its controls, hidden.
  explicit Win32FormView(HINSTANCE instance);
  ~Win32FormView() override;
  Win32FormView(const Win32FormView&) = delete;
  Win32FormView& operator=(const Win32FormView&) = delete;

  // The presenter that receives the window's events (not owned).
  void Attach(app::TFlashForm* form) { form_ = form; }
  // Shows the window unless start-up closed it, then runs the message loop; returns the exit
  // code of the quit request.
  int Run();

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

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(HINSTANCE instance);
  void OnCommand(HWND control, WORD notification);
  // Runs the action on the window's thread: at once when called there, otherwise posted (and,
  // with wait, waited for). Posting keeps the order of everything a worker asks of the window.
  void OnWindowThread(std::function<void()> action, bool wait) const;
  // Runs a presenter handler; nothing may escape into the window procedure.
  void Dispatch(void (app::TFlashForm::*handler)());
  static std::string WindowText(HWND window);

  app::TFlashForm* form_ = nullptr;
  DWORD windowThread_ = 0;
  HWND window_ = nullptr;
  HWND panel_ = nullptr, label_ = nullptr, comboBox_ = nullptr, fileList_ = nullptr;
  HWND groupBox_ = nullptr, progressBar_ = nullptr, button_ = nullptr;
  HFONT font_ = nullptr;
  app::Cursor cursor_ = app::Cursor::Default;
  bool closed_ = false;
  bool quitRequested_ = false;
  bool typedText_ = false; // the box's text was typed since the last selection
  bool buttonEnabled_ = true;
  bool inputEnabled_ = true;
};

} // namespace gui
