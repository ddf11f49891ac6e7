#include "ui/win32/frm_md5.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <thread>

#include "platform/win32/wide.h"
#include "ui/program_title.h"
#include "ui/win32/control_ids.h"

namespace korvik::win32 {
namespace {

constexpr wchar_t kClassName[] = L"KorvikfrmMD5";
constexpr char kStopCaption[] = "Stop";
constexpr wchar_t kFontFamily[] = L"MS Sans Serif";
constexpr int kFontPoints = 8;
constexpr int kOpenButtonPoints = 12;
constexpr COLORREF kHashColour = RGB(0, 0, 255);
// The client area in twips; 1440 twips make an inch.
constexpr int kClientWidth = 9150;
constexpr int kClientHeight = 1455;
constexpr int kTwipsPerInch = 1440;
constexpr DWORD kStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;

constexpr UINT_PTR kBusyCursorTimer = 1;
constexpr UINT kBusyCursorDelayMs = 500;
constexpr UINT_PTR kProgressTimer = 2;
constexpr UINT kProgressIntervalMs = 100;
// Posted by the worker thread once an operation's work is done.
constexpr UINT kOperationDone = WM_APP;

enum class Kind { kLabel, kTextBox, kButton };

struct Control {
  int id;
  Kind kind;
  const char* caption;
  // Twips; a label's size follows its caption.
  int left, top, width, height;
};

// In focus order: the order the controls are made in is the order Tab
// visits them. Labels take no focus.
constexpr Control kControls[] = {
    {KORVIK_ID_TXTFILENAME, Kind::kTextBox, "", 120, 360, 5415, 285},
    {KORVIK_ID_CMDOPEN, Kind::kButton, "...", 5520, 360, 375, 300},
    {KORVIK_ID_TXTHASH, Kind::kTextBox, "", 120, 960, 5415, 285},
    {KORVIK_ID_CMDEXIT, Kind::kButton, "&Exit", 7680, 960, 1335, 375},
    {KORVIK_ID_CMDAPPEND, Kind::kButton, "&Append Hash", 6120, 960, 1335, 375},
    {KORVIK_ID_CMDHASH, Kind::kButton, "&Generate Hash", 6120, 360, 1335, 375},
    {KORVIK_ID_CMDCHECK, Kind::kButton, "Verify Hash", 7680, 360, 1335, 375},
    {KORVIK_ID_LABEL2, Kind::kLabel, "Data file name", 120, 120, 0, 0},
    {KORVIK_ID_LABEL1, Kind::kLabel, "Hash of the selected file :", 120, 720, 0,
     0},
};

int Scale(int twips, UINT dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }

HFONT MakeFont(int points, int weight, UINT dpi) {
  return ::CreateFontW(-::MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE,
                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       kFontFamily);
}

// The size of `control`'s caption on one line in its font.
SIZE CaptionSize(HWND control) {
  const std::wstring caption =
      FillBuffer([control](wchar_t* buffer, DWORD size) {
        return static_cast<DWORD>(
            ::GetWindowTextW(control, buffer, static_cast<int>(size)));
      });
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old_font = ::SelectObject(
      dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT bounds{};
  ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &bounds,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, old_font);
  ::ReleaseDC(control, dc);
  return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

bool IsUserInput(const MSG& message) {
  const UINT m = message.message;
  return (m >= WM_KEYFIRST && m <= WM_KEYLAST) ||
         (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) ||
         (m >= WM_NCMOUSEMOVE && m <= WM_NCXBUTTONDBLCLK);
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  if (::GetClassInfoExW(instance, kClassName, &window_class)) return;
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  // The program's icon, in the sizes the title bar and Alt+Tab ask for.
  window_class.hIcon = static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(KORVIK_ICON), IMAGE_ICON,
                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                   LR_DEFAULTCOLOR));
  window_class.hIconSm = static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(KORVIK_ICON), IMAGE_ICON,
                   ::GetSystemMetrics(SM_CXSMICON),
                   ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  ::RegisterClassExW(&window_class);
}

int ButtonId(CommandButton button) {
  switch (button) {
    case CommandButton::kHash:
      return KORVIK_ID_CMDHASH;
    case CommandButton::kAppend:
      return KORVIK_ID_CMDAPPEND;
    case CommandButton::kCheck:
      break;
  }
  return KORVIK_ID_CMDCHECK;
}

}  // namespace

frmMD5::frmMD5() {
  const INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&common);
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, &frmMD5::WindowProc);
  ::CreateWindowExW(kExStyle, kClassName, Widen(kWindowCaption).c_str(), kStyle,
                    0, 0, 0, 0, nullptr, nullptr, instance, this);

  for (const Control& control : kControls) {
    const wchar_t* control_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (control.kind) {
      case Kind::kLabel:
        style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        break;
      case Kind::kTextBox:
        control_class = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case Kind::kButton:
        control_class = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    }
    ::CreateWindowExW(ex_style, control_class, Widen(control.caption).c_str(),
                      style, 0, 0, 0, 0, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                      instance, nullptr);
  }
  Layout(::GetDpiForWindow(window_));

  // Centred on the screen the window starts on.
  RECT frame;
  ::GetWindowRect(window_, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY),
                    &monitor);
  const RECT& screen = monitor.rcMonitor;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(window_, nullptr,
                 screen.left + (screen.right - screen.left - width) / 2,
                 screen.top + (screen.bottom - screen.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  // Access keys stay underlined, not only once Alt has been pressed.
  ::SendMessageW(window_, WM_CHANGEUISTATE,
                 MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
  focus_ = ::GetDlgItem(window_, KORVIK_ID_TXTFILENAME);
  ::SetFocus(focus_);
}

frmMD5::~frmMD5() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  ::DeleteObject(font_);
  ::DeleteObject(open_font_);
}

void frmMD5::Layout(UINT dpi) {
  const HFONT font = MakeFont(kFontPoints, FW_NORMAL, dpi);
  const HFONT open_font = MakeFont(kOpenButtonPoints, FW_BOLD, dpi);
  for (const Control& control : kControls) {
    const HWND child = ::GetDlgItem(window_, control.id);
    ::SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(
                       control.id == KORVIK_ID_CMDOPEN ? open_font : font),
                   FALSE);
    SIZE size{Scale(control.width, dpi), Scale(control.height, dpi)};
    if (control.kind == Kind::kLabel) size = CaptionSize(child);
    ::SetWindowPos(child, nullptr, Scale(control.left, dpi),
                   Scale(control.top, dpi), size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(child, nullptr, TRUE);
  }
  ::DeleteObject(font_);
  ::DeleteObject(open_font_);
  font_ = font;
  open_font_ = open_font;

  RECT frame{0, 0, Scale(kClientWidth, dpi), Scale(kClientHeight, dpi)};
  ::AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
  ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmMD5::ShowModal() {
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  MSG message;
  while (window_ != nullptr && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    Dispatch(message);
  }
}

void frmMD5::HandlePendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    Dispatch(message);
  }
}

void frmMD5::Dispatch(MSG& message) {
  if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

std::string frmMD5::FileNameText() {
  const HWND box = ::GetDlgItem(window_, KORVIK_ID_TXTFILENAME);
  return Narrow(FillBuffer([box](wchar_t* buffer, DWORD size) {
    return static_cast<DWORD>(
        ::GetWindowTextW(box, buffer, static_cast<int>(size)));
  }));
}

void frmMD5::SetFileNameText(const std::string& text) {
  ::SetDlgItemTextW(window_, KORVIK_ID_TXTFILENAME, Widen(text).c_str());
}

void frmMD5::SetHashText(const std::string& text) {
  ::SetDlgItemTextW(window_, KORVIK_ID_TXTHASH, Widen(text).c_str());
}

std::string frmMD5::ShowOpenFileDialog() {
  // The dialog as the system shows it: no title, filter, folder or name.
  std::wstring name(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  if (!::GetOpenFileNameW(&dialog)) return "";
  return Narrow(name.c_str());
}

void frmMD5::ShowMessage(const std::string& text, MessageIcon icon) {
  ::MessageBoxW(window_, Widen(text).c_str(), Widen(kProgramTitle).c_str(),
                MB_OK | (icon == MessageIcon::kWarning ? MB_ICONWARNING
                                                       : MB_ICONINFORMATION));
}

void frmMD5::RunOperation(CommandButton started_by,
                          const std::function<void()>& work) {
  busy_ = true;
  operation_done_ = false;
  stop_button_ = ButtonId(started_by);
  const HWND stop_button = ::GetDlgItem(window_, stop_button_);
  const std::wstring caption =
      FillBuffer([stop_button](wchar_t* buffer, DWORD size) {
        return static_cast<DWORD>(
            ::GetWindowTextW(stop_button, buffer, static_cast<int>(size)));
      });
  ::SetWindowTextW(stop_button, Widen(kStopCaption).c_str());
  ::SetTimer(window_, kBusyCursorTimer, kBusyCursorDelayMs, nullptr);
  ::SetTimer(window_, kProgressTimer, kProgressIntervalMs, nullptr);
  const HWND window = window_;
  std::thread worker([&work, window] {
    work();
    ::PostMessageW(window, kOperationDone, 0, 0);
  });
  // Paints and timers go on; of what the user types or clicks meanwhile
  // only Esc, the "Stop" button and the window's frame are taken, and the
  // window ignores drops, so that one command runs at a time. The frame's
  // own loops (moving the window, its menu) dispatch the end too.
  MSG message;
  while (!operation_done_) {
    if (::GetMessageW(&message, nullptr, 0, 0) <= 0) continue;
    if (IsUserInput(message) && !TakesDuringOperation(message)) continue;
    ::DispatchMessageW(&message);
  }
  worker.join();
  ::KillTimer(window_, kBusyCursorTimer);
  ::KillTimer(window_, kProgressTimer);
  ::SetWindowTextW(stop_button, caption.c_str());
  busy_ = false;
  if (busy_cursor_) {
    busy_cursor_ = false;
    ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
  }
}

bool frmMD5::TakesDuringOperation(const MSG& message) {
  if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
    if (commands_ != nullptr) commands_->StopOperation();
    return false;
  }
  if (message.message >= WM_NCMOUSEMOVE &&
      message.message <= WM_NCXBUTTONDBLCLK) {
    return message.hwnd == window_;
  }
  return message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST &&
         message.hwnd == ::GetDlgItem(window_, stop_button_);
}

void frmMD5::ShowProgress(const std::string& caption,
                          std::optional<int> percent) {
  ::SetWindowTextW(window_, Widen(caption).c_str());
  taskbar_.Show(window_, percent);
}

void frmMD5::CloseWindow() { ::DestroyWindow(window_); }

LRESULT CALLBACK frmMD5::WindowProc(HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<frmMD5*>(
        reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(self));
  }
  auto* self =
      reinterpret_cast<frmMD5*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT frmMD5::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Clicks and access keys; Enter and Esc arrive as IDOK and IDCANCEL,
      // which no control has.
      if (HIWORD(wparam) == BN_CLICKED && lparam != 0) Command(LOWORD(wparam));
      return 0;
    case WM_CTLCOLOREDIT:
      if (reinterpret_cast<HWND>(lparam) ==
          ::GetDlgItem(window_, KORVIK_ID_TXTHASH)) {
        const HDC dc = reinterpret_cast<HDC>(wparam);
        ::SetTextColor(dc, kHashColour);
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back to where it was.
      if (LOWORD(wparam) == WA_INACTIVE) {
        if (const HWND focus = ::GetFocus(); ::IsChild(window_, focus)) {
          focus_ = focus;
        }
      } else {
        ::SetFocus(focus_);
      }
      return 0;
    case WM_CLOSE:
      // The close box is the "&Exit" button.
      Command(KORVIK_ID_CMDEXIT);
      return 0;
    case WM_DROPFILES:
      if (!busy_) Dropped(reinterpret_cast<HDROP>(wparam));
      ::DragFinish(reinterpret_cast<HDROP>(wparam));
      return 0;
    case kOperationDone:
      operation_done_ = true;
      return 0;
    case WM_TIMER:
      if (wparam == kProgressTimer) {
        if (commands_ != nullptr) commands_->OperationTick();
        return 0;
      }
      if (wparam != kBusyCursorTimer) break;
      ::KillTimer(window_, kBusyCursorTimer);
      busy_cursor_ = true;
      ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
      return 0;
    case WM_SETCURSOR:
      if (!busy_cursor_) break;
      ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
      return TRUE;
    case WM_DPICHANGED: {
      Layout(HIWORD(wparam));
      const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left,
                     suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_NCDESTROY: {
      const HWND window = window_;
      window_ = nullptr;
      return ::DefWindowProcW(window, message, wparam, lparam);
    }
  }
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

void frmMD5::Command(int id) {
  if (commands_ == nullptr) return;
  // During an operation only its "Stop" button and the close box act.
  if (busy_) {
    if (id == stop_button_) commands_->StopOperation();
    if (id == KORVIK_ID_CMDEXIT) commands_->cmdExit_Click();
    return;
  }
  switch (id) {
    case KORVIK_ID_CMDOPEN:
      commands_->cmdOpen_Click();
      break;
    case KORVIK_ID_CMDHASH:
      commands_->cmdHash_Click();
      break;
    case KORVIK_ID_CMDAPPEND:
      commands_->cmdAppend_Click();
      break;
    case KORVIK_ID_CMDCHECK:
      commands_->cmdCheck_Click();
      break;
    case KORVIK_ID_CMDEXIT:
      commands_->cmdExit_Click();
      break;
  }
}

void frmMD5::Dropped(HDROP drop) {
  if (commands_ == nullptr ||
      ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0)
    return;
  std::wstring name(::DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
  name.resize(
      ::DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size())));
  commands_->FileDropped(Narrow(name));
}

}  // namespace korvik::win32
