#pragma once
// The main window as the presenter sees it: controls, captions, message boxes, cursor and the
// end of the program. The Win32 window, the Qt window and the tests' scripted view implement
// it; none of them holds logic of its own.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "sys/Messages.h"

namespace app {

enum class Control { FlashForm, Panel1, SelectDriveLabel, ComboBox, FileListBox1, GroupBox2, ProgressBar, FlashButton };
enum class ControlKind { MainWindow, Panel, Label, ComboBox, FileListBox, GroupBox, ProgressBar, PushButton };
enum class Cursor { Default, Hourglass };

// One control of the window's layout: positions and sizes in pixels at 96 pixels per inch,
// relative to the parent's client area.
struct ControlLayout {
  Control control;
  ControlKind kind;
  Control parent; // the main window names itself
  int left, top, width, height;
  int tabOrder;
};

inline constexpr std::array<ControlLayout, 8> kFormLayout{{
    {Control::FlashForm, ControlKind::MainWindow, Control::FlashForm, 192, 128, 433, 235, 0},
    {Control::Panel1, ControlKind::Panel, Control::FlashForm, 0, 0, 425, 201, 0},
    {Control::SelectDriveLabel, ControlKind::Label, Control::Panel1, 16, 16, 369, 25, 0},
    {Control::ComboBox, ControlKind::ComboBox, Control::Panel1, 16, 40, 385, 24, 0},
    {Control::FileListBox1, ControlKind::FileListBox, Control::Panel1, 16, 72, 385, 41, 1},
    {Control::GroupBox2, ControlKind::GroupBox, Control::Panel1, 16, 128, 385, 49, 2},
    {Control::ProgressBar, ControlKind::ProgressBar, Control::GroupBox2, 8, 16, 305, 25, 0},
    {Control::FlashButton, ControlKind::PushButton, Control::GroupBox2, 320, 16, 57, 25, 1},
}};

// The layout of one control.
constexpr const ControlLayout& LayoutOf(Control control) {
  for (const auto& layout : kFormLayout) {
    if (layout.control == control) return layout;
  }
  return kFormLayout.front();
}

// The window's font, inherited by every control.
inline constexpr const char* kFontName = "System";
inline constexpr int kFontHeight = -16;
inline constexpr bool kFontBold = true;
inline constexpr int kFontCharset = 136; // Big5
inline constexpr int kItemHeight = 16;   // ComboBox and FileListBox1
inline constexpr int kProgressMaximum = 100;

// The task bar text of the program.
inline constexpr const char* kApplicationTitle = "VORMAL Windows Flash utility";

class FormView : public sys::MessagePresenter {
public:
  // The window caption.
  virtual void SetCaption(const std::string& text) = 0;
  // SelectDriveLabel's caption.
  virtual void SetLabel(const std::string& text) = 0;

  // ComboBox entries; an index of -1 means no entry (text typed into the editable box).
  virtual void AddEntry(const std::string& text) = 0;
  virtual void InsertEntry(int index, const std::string& text) = 0;
  virtual void DeleteEntry(int index) = 0;
  virtual int EntryCount() const = 0;
  virtual std::string Entry(int index) const = 0;
  virtual int SelectedEntry() const = 0;
  virtual void SelectEntry(int index) = 0;

  // FileListBox1: the names of the firmware files of one directory. Replacing them drops the
  // list's selection.
  virtual void SetFileListVisible(bool visible) = 0;
  virtual void SetFiles(const std::vector<std::string>& names) = 0;
  // The name of the selected file, empty when none is selected.
  virtual std::string SelectedFile() const = 0;

  // GroupBox2's caption (the status caption), repainted at once.
  virtual void SetGroupCaption(const std::string& text) = 0;
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  // The position, repainted at once.
  virtual void SetProgressPosition(int position) = 0;

  virtual void SetButtonCaption(const std::string& text) = 0;
  virtual void SetButtonEnabled(bool enabled) = 0;
  // Every input control (ComboBox, FileListBox1, FlashButton) on or off at once, for the time
  // a flash runs.
  virtual void SetInputEnabled(bool enabled) = 0;

  virtual void SetCursor(Cursor cursor) = 0;
  // Asks the message loop to end with this exit code once it runs.
  virtual void RequestQuit(int exitCode) = 0;
  // Closes the main window.
  virtual void Close() = 0;

  // Runs a long drive operation to its end while the window keeps painting, and keeps the
  // machine from sleeping meanwhile. The work may run on another thread: it reaches the window
  // only through this interface's setters and message boxes, which the view forwards to its
  // own thread. Returns when the work has ended.
  virtual void RunLongOperation(const std::function<void()>& work) = 0;
};

} // namespace app
