#include "app/ThreadedFormView.h"

#include <exception>

#include "app/TFlashForm.h"
#include "sys/UpdateGuard.h"

namespace app {

ThreadedFormView::ThreadedFormView() : windowThread_(std::this_thread::get_id()) {}

void ThreadedFormView::OnWindowThread(std::function<void()> action, bool wait) const {
  if (std::this_thread::get_id() == windowThread_) {
    action();
    return;
  }
  if (!wait) {
    // A failed update of a control must not unwind into the toolkit's event dispatch.
    Post(
        [action = std::move(action)] {
          try {
            action();
          } catch (...) {
          }
        },
        false);
    return;
  }
  std::exception_ptr failure;
  Post(
      [&] {
        try {
          action();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      true);
  if (failure) std::rethrow_exception(failure);
}

void ThreadedFormView::Dispatch(void (TFlashForm::*handler)()) {
  if (!form_) return;
  try {
    (form_->*handler)();
  } catch (const std::exception& failure) {
    ShowBox(failure.what(), sys::MessageKind::Error, sys::MessageButtons::Ok);
  } catch (...) {
    ShowBox("Unexpected error.", sys::MessageKind::Error, sys::MessageButtons::Ok);
  }
}

bool ThreadedFormView::MayClose() {
  try {
    return !form_ || form_->FormCloseQuery();
  } catch (...) {
    return true;
  }
}

bool ThreadedFormView::FlashRunning() const { return form_ && form_->FlashInProgress(); }

void ThreadedFormView::EndLoop(int exitCode) {
  quitRequested_ = true;
  QuitLoop(exitCode);
}

sys::MessageAnswer ThreadedFormView::Show(const std::string& text, sys::MessageKind kind,
                                          sys::MessageButtons buttons) {
  sys::MessageAnswer answer = sys::MessageAnswer::Closed;
  OnWindowThread([&] { answer = ShowBox(text, kind, buttons); }, true);
  return answer;
}

void ThreadedFormView::SetCaption(const std::string& text) {
  OnWindowThread([this, text] { SetControlText(Control::FlashForm, text); }, false);
}

void ThreadedFormView::SetLabel(const std::string& text) {
  OnWindowThread([this, text] { SetControlText(Control::SelectDriveLabel, text); }, false);
}

void ThreadedFormView::AddEntry(const std::string& text) {
  OnWindowThread(
      [this, text] {
        InsertItem(static_cast<int>(entries_.size()), text);
        entries_.push_back(text);
      },
      false);
}

void ThreadedFormView::InsertEntry(int index, const std::string& text) {
  OnWindowThread(
      [this, index, text] {
        if (index < 0 || index > static_cast<int>(entries_.size())) return;
        InsertItem(index, text);
        entries_.insert(entries_.begin() + index, text);
      },
      false);
}

void ThreadedFormView::DeleteEntry(int index) {
  OnWindowThread(
      [this, index] {
        if (index < 0 || index >= static_cast<int>(entries_.size())) return;
        DeleteItem(index);
        entries_.erase(entries_.begin() + index);
      },
      false);
}

int ThreadedFormView::EntryCount() const {
  int count = 0;
  OnWindowThread([&] { count = static_cast<int>(entries_.size()); }, true);
  return count;
}

std::string ThreadedFormView::Entry(int index) const {
  std::string text;
  OnWindowThread(
      [&] {
        if (index >= 0 && index < static_cast<int>(entries_.size())) text = entries_[static_cast<std::size_t>(index)];
      },
      true);
  return text;
}

int ThreadedFormView::SelectedEntry() const {
  int selected = -1;
  OnWindowThread([&] { selected = SelectedItem(); }, true);
  return selected;
}

void ThreadedFormView::SelectEntry(int index) {
  OnWindowThread(
      [this, index] { SelectItem(index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1); }, false);
}

void ThreadedFormView::SetFileListVisible(bool visible) {
  OnWindowThread([this, visible] { SetControlVisible(Control::FileListBox1, visible); }, false);
}

void ThreadedFormView::SetFiles(const std::vector<std::string>& names) {
  OnWindowThread(
      [this, names] {
        ReplaceFiles(names);
        files_ = names;
      },
      false);
}

std::string ThreadedFormView::SelectedFile() const {
  std::string name;
  OnWindowThread(
      [&] {
        const int row = SelectedFileRow();
        if (row >= 0 && row < static_cast<int>(files_.size())) name = files_[static_cast<std::size_t>(row)];
      },
      true);
  return name;
}

void ThreadedFormView::SetGroupCaption(const std::string& text) {
  OnWindowThread([this, text] { SetControlText(Control::GroupBox2, text); }, false);
}

void ThreadedFormView::SetProgressRange(int minimum, int maximum) {
  OnWindowThread([this, minimum, maximum] { ShowProgressRange(minimum, maximum); }, false);
}

void ThreadedFormView::SetProgressPosition(int position) {
  OnWindowThread([this, position] { ShowProgressPosition(position); }, false);
}

void ThreadedFormView::SetButtonCaption(const std::string& text) {
  OnWindowThread([this, text] { SetControlText(Control::FlashButton, text); }, false);
}

void ThreadedFormView::SetButtonEnabled(bool enabled) {
  OnWindowThread(
      [this, enabled] {
        buttonEnabled_ = enabled;
        SetControlEnabled(Control::FlashButton, enabled && inputEnabled_);
      },
      false);
}

void ThreadedFormView::SetInputEnabled(bool enabled) {
  OnWindowThread(
      [this, enabled] {
        inputEnabled_ = enabled;
        SetControlEnabled(Control::ComboBox, enabled);
        SetControlEnabled(Control::FileListBox1, enabled);
        SetControlEnabled(Control::FlashButton, enabled && buttonEnabled_);
      },
      false);
}

void ThreadedFormView::SetCursor(Cursor cursor) {
  OnWindowThread([this, cursor] { ShowCursor(cursor); }, false);
}

void ThreadedFormView::RequestQuit(int exitCode) {
  OnWindowThread([this, exitCode] { EndLoop(exitCode); }, false);
}

void ThreadedFormView::Close() {
  OnWindowThread(
      [this] {
        closed_ = true;
        SetControlVisible(Control::FlashForm, false);
      },
      false);
}

void ThreadedFormView::RunLongOperation(const std::function<void()>& work) {
  // Neither a sleep, a shutdown, a termination signal nor a console event may end a flash
  // half-way.
  const sys::UpdateGuard guard(kApplicationTitle);
  std::atomic<bool> finished{false};
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    // Wakes the window's loop, after everything the worker posted before.
    Post([] {}, false);
  });
  RunEventsUntil(finished);
  worker.join();
  // A termination request held off during the operation ends the program now that it is
  // over, with the exit code for that request.
  if (const int held = sys::HeldRequestExitCode(); held != 0 && !QuitRequested()) EndLoop(held);
  if (failure) std::rethrow_exception(failure);
}

int RunWindow(const std::function<std::unique_ptr<ThreadedFormView>()>& makeView,
              const std::function<void(const std::string& text)>& showFailure) {
  sys::SetApplicationTitle(kApplicationTitle);
  int exitCode = 0;
  try {
    const std::unique_ptr<ThreadedFormView> view = makeView();
    // Every box of the drive layer, the builder and the flash procedure goes through the
    // window, which brings boxes asked for by the flash worker to its own thread.
    sys::SetMessages(view.get());
    TFlashForm form(*view);
    view->Attach(&form);
    form.FormCreate();
    exitCode = view->Run();
    view->Attach(nullptr);
    sys::SetMessages(nullptr);
  } catch (const std::exception& failure) {
    sys::SetMessages(nullptr);
    showFailure(failure.what());
  }
  return exitCode;
}

} // namespace app
