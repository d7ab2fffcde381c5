#include "gui/win32/Win32FormView.h"

#include <future>
#include <memory>

#include "app/TFlashForm.h"

namespace sys {
// The platform's own message box (sys/MessagesWin32.cpp): kinds, titles and icons in one place.
MessagePresenter& PlatformMessages();
} // namespace sys

namespace gui {
namespace {

constexpr const char* kWindowClass = "TFlashForm";
constexpr const char* kPanelClass = "TPanel";
constexpr UINT kRunAction = WM_APP + 1; // lParam: a std::function<void()>* to run and delete
constexpr int kComboDropDownHeight = 200;

// The panel and the group box parent other controls: they pass their children's notifications
// on to the main window, which dispatches them.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return SendMessageA(GetAncestor(window, GA_ROOT), message, wParam, lParam);
  case WM_PAINT: {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);
    EndPaint(window, &paint);
    return 0;
  }
  default:
    return DefWindowProcA(window, message, wParam, lParam);
  }
}

WNDPROC groupBoxProc = nullptr;
LRESULT CALLBACK GroupBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN)
    return SendMessageA(GetAncestor(window, GA_ROOT), message, wParam, lParam);
  if (message == WM_ERASEBKGND) {
    // A group box paints only its frame and caption; as a parent it must fill its inside.
    RECT area;
    GetClientRect(window, &area);
    FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_BTNFACE));
    return TRUE;
  }
  return CallWindowProcA(groupBoxProc, window, message, wParam, lParam);
}

} // namespace

Win32FormView::Win32FormView(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);
  WNDCLASSA panelClass{};
  panelClass.lpfnWndProc = PanelProc;
  panelClass.hInstance = instance;
  panelClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  panelClass.lpszClassName = kPanelClass;
  RegisterClassA(&panelClass);

  // The window sizes itself to its contents: its client area is exactly Panel1.
  const auto& form = app::LayoutOf(app::Control::FlashForm);
  const auto& panel = app::LayoutOf(app::Control::Panel1);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, panel.width, panel.height};
  AdjustWindowRect(&frame, style, FALSE);
  window_ = CreateWindowExA(0, kWindowClass, "", style, form.left, form.top, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance, this);
  controls_[static_cast<std::size_t>(app::Control::FlashForm)] = window_;
  font_ = CreateFontA(app::kFontHeight, 0, 0, 0, app::kFontBold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                      app::kFontCharset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, app::kFontName);
  CreateControls(instance);
}

Win32FormView::~Win32FormView() {
  if (IsWindow(window_)) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void Win32FormView::CreateControls(HINSTANCE instance) {
  auto create = [&](app::Control control, const char* windowClass, const char* text, DWORD style, HWND parent) {
    const auto& layout = app::LayoutOf(control);
    const int height = control == app::Control::ComboBox ? kComboDropDownHeight : layout.height;
    // Containers let Tab move through their children.
    const DWORD extended = parent == window_ || control == app::Control::GroupBox2 ? WS_EX_CONTROLPARENT : 0;
    HWND child = CreateWindowExA(extended, windowClass, text, WS_CHILD | WS_VISIBLE | style, layout.left, layout.top,
                                 layout.width, height, parent, nullptr, instance, nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    controls_[static_cast<std::size_t>(control)] = child;
    return child;
  };
  panel_ = create(app::Control::Panel1, kPanelClass, "", WS_CLIPCHILDREN, window_);
  // A label that does not fit is cut, not wrapped onto a line the label has no room for.
  label_ = create(app::Control::SelectDriveLabel, "STATIC", "", SS_LEFTNOWORDWRAP, panel_);
  comboBox_ = create(app::Control::ComboBox, "COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, panel_);
  SendMessageA(comboBox_, CB_SETITEMHEIGHT, 0, app::kItemHeight);
  fileList_ = create(app::Control::FileListBox1, "LISTBOX", "",
                     LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP, panel_);
  SendMessageA(fileList_, LB_SETITEMHEIGHT, 0, app::kItemHeight);
  groupBox_ = create(app::Control::GroupBox2, "BUTTON", "", BS_GROUPBOX | WS_CLIPSIBLINGS, panel_);
  groupBoxProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(groupBox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupBoxProc)));
  progressBar_ = create(app::Control::ProgressBar, PROGRESS_CLASSA, "", PBS_SMOOTH, groupBox_);
  SendMessageA(progressBar_, PBM_SETRANGE32, 0, app::kProgressMaximum);
  button_ = create(app::Control::FlashButton, "BUTTON", "FLASH", BS_PUSHBUTTON | WS_TABSTOP, groupBox_);
}

int Win32FormView::Run() {
  // A start-up that ended itself leaves nothing to show: the loop stops at once.
  if (!StartUpEnded()) {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    // The first control in tab order has the focus, as in a dialog.
    SetFocus(comboBox_);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (IsWindow(window_)) DestroyWindow(window_);
  return static_cast<int>(message.wParam);
}

LRESULT CALLBACK Win32FormView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* view = static_cast<Win32FormView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    view->window_ = window;
  }
  auto* view = reinterpret_cast<Win32FormView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return view ? view->HandleMessage(message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32FormView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case kRunAction: {
    const std::unique_ptr<std::function<void()>> action(reinterpret_cast<std::function<void()>*>(lParam));
    (*action)();
    return 0;
  }
  case WM_COMMAND:
    OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
    return 0;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    // Labels and the group box on the button face, like the window.
    SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  case WM_SETCURSOR:
    if (cursor_ == app::Cursor::Hourglass) {
      ::SetCursor(LoadCursor(nullptr, IDC_WAIT));
      return TRUE;
    }
    break;
  case WM_CLOSE:
    // A flash must not be cut off: the presenter may refuse.
    if (MayClose()) DestroyWindow(window_);
    return 0;
  case WM_QUERYENDSESSION:
    return FlashRunning() ? FALSE : TRUE;
  case WM_DESTROY:
    Dispatch(&app::TFlashForm::FormDestroy);
    EndLoop(0);
    return 0;
  default:
    break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void Win32FormView::OnCommand(HWND control, WORD notification) {
  if (control == comboBox_ && (notification == CBN_SELCHANGE || notification == CBN_EDITCHANGE)) {
    // During CBN_SELCHANGE the edit field still shows the old text; the list's selection is
    // what counts. An edit leaves no entry selected.
    typedText_ = notification == CBN_EDITCHANGE;
    Dispatch(&app::TFlashForm::ComboBoxChange);
  } else if (control == fileList_ && notification == LBN_SELCHANGE) {
    Dispatch(&app::TFlashForm::FileListBox1Click);
  } else if (control == button_ && notification == BN_CLICKED) {
    Dispatch(&app::TFlashForm::FlashButtonClick);
  }
}

void Win32FormView::Post(std::function<void()> action, bool wait) const {
  if (!wait) {
    PostMessageA(window_, kRunAction, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(action))));
    return;
  }
  std::promise<void> done;
  PostMessageA(window_, kRunAction, 0, reinterpret_cast<LPARAM>(new std::function<void()>([&] {
                 action();
                 done.set_value();
               })));
  done.get_future().wait();
}

sys::MessageAnswer Win32FormView::ShowBox(const std::string& text, sys::MessageKind kind, sys::MessageButtons buttons) {
  return sys::PlatformMessages().Show(text, kind, buttons);
}

void Win32FormView::SetControlText(app::Control control, const std::string& text) {
  SetWindowTextA(ControlWindow(control), text.c_str());
  // The status caption must be seen before the next drive command, not at the next idle paint.
  if (control == app::Control::GroupBox2)
    RedrawWindow(groupBox_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int Win32FormView::SelectedItem() const {
  // Text typed into the editable box leaves no entry selected, even though the list still
  // marks the last one.
  if (typedText_) return -1;
  const auto selected = static_cast<int>(SendMessageA(comboBox_, CB_GETCURSEL, 0, 0));
  return selected < 0 ? -1 : selected;
}

void Win32FormView::SelectItem(int index) {
  typedText_ = false;
  SendMessageA(comboBox_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32FormView::ReplaceFiles(const std::vector<std::string>& names) {
  SendMessageA(fileList_, LB_RESETCONTENT, 0, 0);
  for (const auto& name : names) SendMessageA(fileList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

int Win32FormView::SelectedFileRow() const {
  const LRESULT selected = SendMessageA(fileList_, LB_GETCURSEL, 0, 0);
  return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void Win32FormView::ShowProgressPosition(int position) {
  SendMessageA(progressBar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  UpdateWindow(progressBar_);
}

void Win32FormView::ShowCursor(app::Cursor cursor) {
  cursor_ = cursor;
  ::SetCursor(LoadCursor(nullptr, cursor == app::Cursor::Hourglass ? IDC_WAIT : IDC_ARROW));
}

void Win32FormView::RunEventsUntil(const std::atomic<bool>& finished) {
  // A quit request is kept for the outer loop.
  bool quit = false;
  WPARAM quitCode = 0;
  MSG message;
  for (;;) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      if (!IsDialogMessageA(window_, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    if (finished) break;
    // The worker's wake-up is a posted message, like its other calls.
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  // Whatever the worker posted last is shown before the handler goes on.
  while (PeekMessageA(&message, window_, kRunAction, kRunAction, PM_REMOVE)) DispatchMessageA(&message);
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

} // namespace gui
