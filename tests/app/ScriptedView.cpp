#include "ScriptedView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace apptest {

ScriptedView::ScriptedView() { sys::SetMessages(this); }
ScriptedView::~ScriptedView() {
  sys::SetMessages(nullptr);
  EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answers were not used";
}

void ScriptedView::Answer(std::initializer_list<sys::MessageAnswer> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

sys::MessageAnswer ScriptedView::Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) {
  messages.push_back({text, kind, buttons});
  if (buttons == sys::MessageButtons::Ok) return sys::MessageAnswer::Ok;
  if (answers_.empty()) {
    ADD_FAILURE() << "no scripted answer for the question:\n" << text;
    return sys::MessageAnswer::No;
  }
  const sys::MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedView::InsertEntry(int index, const std::string& text) {
  ASSERT_TRUE(index >= 0 && index <= EntryCount()) << "insert at " << index;
  entries.insert(entries.begin() + index, text);
}

void ScriptedView::DeleteEntry(int index) {
  ASSERT_TRUE(index >= 0 && index < EntryCount()) << "delete at " << index;
  entries.erase(entries.begin() + index);
}

std::string ScriptedView::Entry(int index) const {
  return index >= 0 && index < EntryCount() ? entries[index] : std::string();
}

void ScriptedView::SetFiles(const std::vector<std::string>& names) {
  listedFiles = names;
  selectedFile_.clear();
}

void ScriptedView::ClickFile(const std::string& name) {
  ASSERT_NE(std::find(listedFiles.begin(), listedFiles.end(), name), listedFiles.end())
      << name << " is not in the file list";
  selectedFile_ = name;
}

void ScriptedView::FailIf(const char* call) const {
  if (failingCall == call) throw std::runtime_error(failingCall + " failed");
}

void ScriptedView::SetLabel(const std::string& text) {
  FailIf("SetLabel");
  label = text;
}

std::string ScriptedView::SelectedFile() const {
  FailIf("SelectedFile");
  return selectedFile_;
}

void ScriptedView::TypeIntoComboBox() { selectedEntry = -1; }

void ScriptedView::SetGroupCaption(const std::string& text) {
  groupCaption = text;
  groupCaptions.push_back(text);
}

void ScriptedView::SetProgressRange(int minimum, int maximum) {
  progressMinimum = minimum;
  progressMaximum = maximum;
}

void ScriptedView::SetProgressPosition(int position) {
  progressPosition = position;
  progressPositions.push_back(position);
}

void ScriptedView::SetCursor(app::Cursor shape) {
  cursor = shape;
  cursors.push_back(shape);
}

void ScriptedView::RunLongOperation(const std::function<void()>& work) {
  ++longOperations;
  if (duringLongOperation) duringLongOperation();
  work();
}

} // namespace apptest
