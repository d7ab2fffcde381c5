#pragma once
// The main window as a native Win32 window: the controls of the layout table under the shared
// FormView. Handlers go to the presenter; calls from a worker thread are posted to the
// window's thread.

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <functional>
#include <string>

#include "app/ThreadedFormView.h"

namespace gui {

class Win32FormView final : public app::ThreadedFormView {
public:
  // Creates the window and its controls, hidden.
  explicit Win32FormView(HINSTANCE instance);
  ~Win32FormView() override;
  Win32FormView(const Win32FormView&) = delete;
  Win32FormView& operator=(const Win32FormView&) = delete;

  int Run() override;

protected:
  void Post(std::function<void()> action, bool wait) const override;
  sys::MessageAnswer ShowBox(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) override;
  void SetControlText(app::Control control, const std::string& text) override;
  void SetControlEnabled(app::Control control, bool enabled) override { EnableWindow(ControlWindow(control), enabled); }
  void SetControlVisible(app::Control control, bool visible) override {
    ShowWindow(ControlWindow(control), visible ? SW_SHOW : SW_HIDE);
  }
  void InsertItem(int index, const std::string& text) override {
    SendMessageA(comboBox_, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
  }
  void DeleteItem(int index) override { SendMessageA(comboBox_, CB_DELETESTRING, static_cast<WPARAM>(index), 0); }
  int SelectedItem() const override;
  void SelectItem(int index) override;
  void ReplaceFiles(const std::vector<std::string>& names) override;
  int SelectedFileRow() const override;
  void ShowProgressRange(int minimum, int maximum) override {
    SendMessageA(progressBar_, PBM_SETRANGE32, minimum, maximum);
  }
  void ShowProgressPosition(int position) override;
  void ShowCursor(app::Cursor cursor) override;
  void QuitLoop(int exitCode) override { PostQuitMessage(exitCode); }
  void RunEventsUntil(const std::atomic<bool>& finished) override;

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(HINSTANCE instance);
  void OnCommand(HWND control, WORD notification);
  HWND ControlWindow(app::Control control) const { return controls_[static_cast<std::size_t>(control)]; }

  // Each control's window by its place in Control (the main window first).
  std::array<HWND, app::kFormLayout.size()> controls_{};
  HWND window_ = nullptr;
  HWND panel_ = nullptr, label_ = nullptr, comboBox_ = nullptr, fileList_ = nullptr;
  HWND groupBox_ = nullptr, progressBar_ = nullptr, button_ = nullptr;
  HFONT font_ = nullptr;
  app::Cursor cursor_ = app::Cursor::Default;
  bool typedText_ = false; // the box's text was typed since the last selection
};

} // namespace gui
