#pragma once
// A FormView for tests: answers message boxes from a script and records everything the
// presenter does to the window, so that tests can compare every text byte for byte.

#include <deque>
#include <string>
#include <vector>

#include "app/FormView.h"

namespace apptest {

struct ShownMessage {
  std::string text;
  sys::MessageKind kind;
  sys::MessageButtons buttons;
  bool operator==(const ShownMessage&) const = default;
};

class ScriptedView final : public app::FormView {
public:
  ScriptedView();
  ~ScriptedView() override;

  // Answers for the coming Yes/No boxes, in order. A box with no answer left is a test failure
  // (answered No). OK boxes need no answer.
  void Answer(std::initializer_list<sys::MessageAnswer> answers);
  // The user clicks the file of this name, or types text into the editable box.
  void ClickFile(const std::string& name);
  void TypeIntoComboBox();

  // What the window shows now.
  std::string caption, label, groupCaption, buttonCaption = "FLASH";
  std::vector<std::string> entries, listedFiles;
  int selectedEntry = -1;
  bool fileListVisible = true, buttonEnabled = true, inputEnabled = true;
  int progressMinimum = 0, progressMaximum = 100, progressPosition = 0;
  app::Cursor cursor = app::Cursor::Default;
  int quitCode = -1; // -1 while no quit was requested
  bool closed = false;
  int longOperations = 0;
  // Runs at the start of every long operation, as a user acting while it runs.
  std::function<void()> duringLongOperation;
  // The view's call of this name throws, as a failing toolkit would ("SetLabel failed").
  std::string failingCall;

  // What it showed, in order.
  std::vector<ShownMessage> messages;
  std::vector<std::string> groupCaptions;
  std::vector<int> progressPositions;
  std::vector<app::Cursor> cursors;

  sys::MessageAnswer Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) override;
  void SetCaption(const std::string& text) override { caption = text; }
  void SetLabel(const std::string& text) override;
  void AddEntry(const std::string& text) override { entries.push_back(text); }
  void InsertEntry(int index, const std::string& text) override;
  void DeleteEntry(int index) override;
  int EntryCount() const override { return static_cast<int>(entries.size()); }
  std::string Entry(int index) const override;
  int SelectedEntry() const override { return selectedEntry; }
  void SelectEntry(int index) override { selectedEntry = index; }
  void SetFileListVisible(bool visible) override { fileListVisible = visible; }
  void SetFiles(const std::vector<std::string>& names) override;
  std::string SelectedFile() const override;
  void SetGroupCaption(const std::string& text) override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void SetButtonCaption(const std::string& text) override { buttonCaption = text; }
  void SetButtonEnabled(bool enabled) override { buttonEnabled = enabled; }
  void SetInputEnabled(bool enabled) override { inputEnabled = enabled; }
  void SetCursor(app::Cursor shape) override;
  void RequestQuit(int exitCode) override { quitCode = exitCode; }
  void Close() override { closed = true; }
  void RunLongOperation(const std::function<void()>& work) override;

private:
  void FailIf(const char* call) const;

  std::deque<sys::MessageAnswer> answers_;
  std::string selectedFile_;
};

} // namespace apptest
