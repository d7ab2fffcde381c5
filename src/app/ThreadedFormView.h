#pragma once
// The window's FormView as both toolkits share it: every call, from whichever thread, reaches
// the window on its own thread in the order it was made, so that the window keeps painting
// while a worker runs a drive command. A toolkit supplies the posting primitive, the event
// loop and the controls' operations, each of which runs on the window's thread only.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/FormView.h"

namespace app {

class TFlashForm;

class ThreadedFormView : public FormView {
public:
  // Made on the thread that runs the window.
  ThreadedFormView();

  // The presenter that receives the window's events (not owned).
  void Attach(TFlashForm* form) { form_ = form; }
  // Shows the window unless start-up ended the program, runs the event loop until a quit
  // request and returns its exit code.
  virtual int Run() = 0;

  sys::MessageAnswer Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) final;
  void SetCaption(const std::string& text) final;
  void SetLabel(const std::string& text) final;
  void AddEntry(const std::string& text) final;
  void InsertEntry(int index, const std::string& text) final;
  void DeleteEntry(int index) final;
  int EntryCount() const final;
  std::string Entry(int index) const final;
  int SelectedEntry() const final;
  void SelectEntry(int index) final;
  void SetFileListVisible(bool visible) final;
  void SetFiles(const std::vector<std::string>& names) final;
  std::string SelectedFile() const final;
  void SetGroupCaption(const std::string& text) final;
  void SetProgressRange(int minimum, int maximum) final;
  void SetProgressPosition(int position) final;
  void SetButtonCaption(const std::string& text) final;
  void SetButtonEnabled(bool enabled) final;
  void SetInputEnabled(bool enabled) final;
  void SetCursor(Cursor cursor) final;
  void RequestQuit(int exitCode) final;
  void Close() final;
  void RunLongOperation(const std::function<void()>& work) final;

protected:
  // Runs the action on the window's thread, in the order posted; called from other threads
  // only. With wait, returns once the action has run. The action throws nothing.
  virtual void Post(std::function<void()> action, bool wait) const = 0;

  // The controls, on the window's thread.
  virtual sys::MessageAnswer ShowBox(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) = 0;
  // The text of the main window (its caption), SelectDriveLabel, GroupBox2 (repainted at once)
  // or FlashButton.
  virtual void SetControlText(Control control, const std::string& text) = 0;
  virtual void SetControlEnabled(Control control, bool enabled) = 0;
  virtual void SetControlVisible(Control control, bool visible) = 0;
  // ComboBox items: index is at most the item count (which appends).
  virtual void InsertItem(int index, const std::string& text) = 0;
  virtual void DeleteItem(int index) = 0;
  // -1 when text typed into the box left no item selected.
  virtual int SelectedItem() const = 0;
  // -1 selects none and empties the box's text.
  virtual void SelectItem(int index) = 0;
  // FileListBox1's names, replacing the list and its selection without telling the presenter.
  virtual void ReplaceFiles(const std::vector<std::string>& names) = 0;
  // -1 when no file is selected.
  virtual int SelectedFileRow() const = 0;
  virtual void ShowProgressRange(int minimum, int maximum) = 0;
  // Repainted at once.
  virtual void ShowProgressPosition(int position) = 0;
  virtual void ShowCursor(Cursor cursor) = 0;
  // Ends the event loop with this exit code, at once or as soon as it may.
  virtual void QuitLoop(int exitCode) = 0;
  // Runs the window's events (painting, the worker's posted calls, a refused close) until
  // finished is set, then whatever was posted before it. A quit asked for meanwhile takes
  // effect on return.
  virtual void RunEventsUntil(const std::atomic<bool>& finished) = 0;

  // Runs a presenter handler; nothing may escape into the toolkit's event dispatch.
  void Dispatch(void (TFlashForm::*handler)());
  // Whether the window may close: the presenter refuses while a flash runs.
  bool MayClose();
  // Whether a flash runs, which neither a logout nor a shutdown may cut off.
  bool FlashRunning() const;
  // A quit asked for by the presenter or by the window itself.
  void EndLoop(int exitCode);
  bool QuitRequested() const { return quitRequested_; }
  // Start-up asked to quit or closed the window: there is nothing to show.
  bool StartUpEnded() const { return quitRequested_ || closed_; }

private:
  // Runs the action at once on the window's thread, otherwise posts it (and, with wait, waits
  // for it and rethrows its failure). Posting keeps the order of everything a worker asks.
  void OnWindowThread(std::function<void()> action, bool wait) const;

  const std::thread::id windowThread_;
  TFlashForm* form_ = nullptr;
  // The exact bytes of the entries and file names, whatever the controls hold.
  std::vector<std::string> entries_;
  std::vector<std::string> files_;
  bool buttonEnabled_ = true;
  bool inputEnabled_ = true;
  bool closed_ = false;
  bool quitRequested_ = false;
};

// The window program's start-up: the application title, the view, every box of the lower
// layers through the view, the presenter's FormCreate, then the event loop. A failure is
// shown by showFailure once the view is gone. Returns the exit code of the quit request.
int RunWindow(const std::function<std::unique_ptr<ThreadedFormView>()>& makeView,
              const std::function<void(const std::string& text)>& showFailure);

} // namespace app
