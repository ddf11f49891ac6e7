// The Win32 window under a display of its own: where each control is, how
// Tab, access keys, Enter, Esc and the close box behave, its fonts and
// colours, drops, and input while an operation runs. Keys arrive as the
// messages the keyboard posts, through the window's own message loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "checksum/system_services.h"
#include "platform/win32/wide.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/frm_md5.h"
#include "ui/window_presenter.h"

namespace korvik::win32 {
namespace {

using testing::ElementsAre;

// Twips; 15 make a pixel at 96 dots per inch.
struct Placement {
  int id;
  int left, top, width, height;
};

constexpr Placement kTable[] = {
    {KORVIK_ID_TXTFILENAME, 120, 360, 5415, 285},
    {KORVIK_ID_CMDOPEN, 5520, 360, 375, 300},
    {KORVIK_ID_CMDHASH, 6120, 360, 1335, 375},
    {KORVIK_ID_CMDCHECK, 7680, 360, 1335, 375},
    {KORVIK_ID_TXTHASH, 120, 960, 5415, 285},
    {KORVIK_ID_CMDAPPEND, 6120, 960, 1335, 375},
    {KORVIK_ID_CMDEXIT, 7680, 960, 1335, 375},
};

struct Label {
  int id;
  int left, top;
  const wchar_t* caption;
};

constexpr Label kLabels[] = {
    {KORVIK_ID_LABEL2, 120, 120, L"Data file name"},
    {KORVIK_ID_LABEL1, 120, 720, L"Hash of the selected file :"},
};

constexpr int kTwipsPerPixel = 15;

class RecordingCommands : public WindowCommands {
 public:
  void cmdOpen_Click() override { calls.push_back("cmdOpen"); }
  void cmdHash_Click() override { calls.push_back("cmdHash"); }
  void cmdAppend_Click() override { calls.push_back("cmdAppend"); }
  void cmdCheck_Click() override { calls.push_back("cmdCheck"); }
  void cmdExit_Click() override { calls.push_back("cmdExit"); }
  void FileDropped(const std::string& file_name) override {
    calls.push_back("dropped " + file_name);
  }
  void StopOperation() override { calls.push_back("stop"); }
  void OperationTick() override { ++ticks; }

  std::vector<std::string> calls;
  int ticks = 0;
};

// A rectangle in pixels.
struct Box {
  LONG left, top, right, bottom;
  bool operator==(const Box&) const = default;
};

void PrintTo(const Box& box, std::ostream* out) {
  *out << "(" << box.left << ", " << box.top << ")-(" << box.right << ", "
       << box.bottom << ")";
}

// A control's rectangle in the client area's coordinates.
Box ClientRect(HWND window, HWND control) {
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

Box Pixels(int left, int top, int width, int height) {
  return {left / kTwipsPerPixel, top / kTwipsPerPixel,
          (left + width) / kTwipsPerPixel, (top + height) / kTwipsPerPixel};
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  ::GetObjectW(
      reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)),
      sizeof font, &font);
  return font;
}

// The face the system actually draws `control`'s font with.
std::wstring DrawnFace(HWND control) {
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old = ::SelectObject(
      dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return face;
}

// A drop of `name` as the shell hands it over: the names after a DROPFILES
// header, each ended by a zero, the list by another.
HGLOBAL Drop(const std::wstring& name) {
  const std::size_t bytes =
      sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
  auto* files = static_cast<DROPFILES*>(::GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  std::memcpy(files + 1, name.c_str(), name.size() * sizeof(wchar_t));
  ::GlobalUnlock(memory);
  return memory;
}

class WindowTest : public testing::Test {
 protected:
  WindowTest() { window_.ForwardTo(commands_); }

  HWND Control(int id) const { return ::GetDlgItem(window_.handle(), id); }

  void Show() {
    ::ShowWindow(window_.handle(), SW_SHOW);
    ::SetForegroundWindow(window_.handle());
    window_.HandlePendingMessages();
  }

  // A key pressed and released while `control` has the focus, with Alt
  // held where `alt`.
  void Press(int id, WPARAM key, bool alt = false) {
    const HWND control = Control(id);
    ::SetFocus(control);
    const LPARAM context = alt ? (1 << 29) : 0;
    ::PostMessageW(control, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 1 | context);
    ::PostMessageW(control, alt ? WM_SYSKEYUP : WM_KEYUP, key,
                   1 | context | (3u << 30));
    window_.HandlePendingMessages();
  }

  RecordingCommands commands_;
  frmMD5 window_;
};

TEST_F(WindowTest, EveryControlSitsWhereTheTableSaysAtNinetySixDpi) {
  const HWND window = window_.handle();
  ASSERT_EQ(::GetDpiForWindow(window), 96u);
  RECT client;
  ::GetClientRect(window, &client);
  EXPECT_EQ((Box{client.left, client.top, client.right, client.bottom}),
            Pixels(0, 0, 9150, 1455));
  for (const Placement& control : kTable) {
    EXPECT_EQ(ClientRect(window, Control(control.id)),
              Pixels(control.left, control.top, control.width, control.height))
        << "control " << control.id;
  }
  // A label is as large as its caption on one line.
  for (const Label& label : kLabels) {
    const HWND control = Control(label.id);
    const HDC dc = ::GetDC(control);
    const HGDIOBJ old = ::SelectObject(
        dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE text;
    ::GetTextExtentPoint32W(
        dc, label.caption, static_cast<int>(std::wcslen(label.caption)), &text);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    EXPECT_EQ(ClientRect(window, control),
              (Box{label.left / kTwipsPerPixel, label.top / kTwipsPerPixel,
                   label.left / kTwipsPerPixel + text.cx,
                   label.top / kTwipsPerPixel + text.cy}))
        << "label " << label.id;
  }
}

TEST_F(WindowTest, FrameCaptionAndPlace) {
  const HWND window = window_.handle();
  wchar_t caption[100];
  ::GetWindowTextW(window, caption, 100);
  EXPECT_STREQ(caption, L"Korvik Checksum Generation Utility");
  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

  RECT frame;
  ::GetWindowRect(window, &frame);
  const int screen_width = ::GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs(frame.left + frame.right - screen_width), 1);
  EXPECT_LE(std::abs(frame.top + frame.bottom - screen_height), 1);
}

TEST_F(WindowTest, ResizingMovesNothing) {
  const HWND window = window_.handle();
  std::vector<Box> before;
  for (const Placement& control : kTable) {
    before.push_back(ClientRect(window, Control(control.id)));
  }
  for (const SIZE size : {SIZE{900, 300}, SIZE{200, 80}}) {
    ::SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER);
    window_.HandlePendingMessages();
    for (std::size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(ClientRect(window, Control(kTable[i].id)), before[i]);
    }
  }
}

TEST_F(WindowTest, FocusStartsInTheFileNameAndTabFollowsTheOrder) {
  Show();
  EXPECT_EQ(::GetFocus(), Control(KORVIK_ID_TXTFILENAME));
  std::vector<int> visited;
  for (int i = 0; i < 7; ++i) {
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    window_.HandlePendingMessages();
    visited.push_back(::GetDlgCtrlID(::GetFocus()));
  }
  EXPECT_THAT(visited, ElementsAre(KORVIK_ID_CMDOPEN, KORVIK_ID_TXTHASH,
                                   KORVIK_ID_CMDEXIT, KORVIK_ID_CMDAPPEND,
                                   KORVIK_ID_CMDHASH, KORVIK_ID_CMDCHECK,
                                   KORVIK_ID_TXTFILENAME));
  EXPECT_TRUE(commands_.calls.empty());
}

TEST_F(WindowTest, AccessKeysPressTheirButtonsFromTheTextBoxes) {
  Show();
  Press(KORVIK_ID_TXTFILENAME, 'G', true);
  Press(KORVIK_ID_TXTHASH, 'A', true);
  Press(KORVIK_ID_TXTFILENAME, 'V', true);  // "Verify Hash" has none
  Press(KORVIK_ID_TXTHASH, 'E', true);
  EXPECT_THAT(commands_.calls, ElementsAre("cmdHash", "cmdAppend", "cmdExit"));
}

TEST_F(WindowTest, EnterAndEscPressNothing) {
  Show();
  for (const int id : {KORVIK_ID_TXTFILENAME, KORVIK_ID_TXTHASH,
                       KORVIK_ID_CMDHASH, KORVIK_ID_CMDEXIT}) {
    Press(id, VK_RETURN);
    Press(id, VK_ESCAPE);
  }
  EXPECT_TRUE(commands_.calls.empty());
  EXPECT_FALSE(window_.closed());
  // Space still presses the button that has the focus.
  Press(KORVIK_ID_CMDCHECK, VK_SPACE);
  EXPECT_THAT(commands_.calls, ElementsAre("cmdCheck"));
}

TEST_F(WindowTest, CloseBoxIsTheExitButton) {
  ::SendMessageW(window_.handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  ::SendMessageW(Control(KORVIK_ID_CMDOPEN), BM_CLICK, 0, 0);
  EXPECT_THAT(commands_.calls, ElementsAre("cmdExit", "cmdOpen"));
}

TEST(WindowWithPresenterTest, CloseBoxClosesTheWindow) {
  SystemServices system(0, nullptr);
  frmMD5 window;
  WindowPresenter presenter(system.services(), window);
  window.ForwardTo(presenter);
  ::SendMessageW(window.handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(window.closed());
}

TEST_F(WindowTest, FontsAndColours) {
  for (const int id :
       {KORVIK_ID_LABEL2, KORVIK_ID_TXTFILENAME, KORVIK_ID_CMDHASH,
        KORVIK_ID_CMDCHECK, KORVIK_ID_LABEL1, KORVIK_ID_TXTHASH,
        KORVIK_ID_CMDAPPEND, KORVIK_ID_CMDEXIT}) {
    const LOGFONTW font = FontOf(Control(id));
    EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif") << "control " << id;
    EXPECT_EQ(font.lfHeight, -11) << "8 points, control " << id;
    EXPECT_EQ(font.lfWeight, FW_NORMAL) << "control " << id;
  }
  const LOGFONTW open = FontOf(Control(KORVIK_ID_CMDOPEN));
  EXPECT_STREQ(open.lfFaceName, L"MS Sans Serif");
  EXPECT_EQ(open.lfHeight, -16) << "12 points";
  EXPECT_EQ(open.lfWeight, FW_BOLD);
  EXPECT_EQ(DrawnFace(Control(KORVIK_ID_CMDEXIT)), L"MS Sans Serif");

  // The colours each text box is drawn in.
  const HDC dc = ::CreateCompatibleDC(nullptr);
  ::SendMessageW(window_.handle(), WM_CTLCOLOREDIT,
                 reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(Control(KORVIK_ID_TXTHASH)));
  EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 255));
  ::SendMessageW(window_.handle(), WM_CTLCOLOREDIT,
                 reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(Control(KORVIK_ID_TXTFILENAME)));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
  ::DeleteDC(dc);
}

TEST_F(WindowTest, DroppedFileGoesToTheCommands) {
  ::PostMessageW(window_.handle(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(Drop(L"C:\\data\\orders.txt")), 0);
  window_.HandlePendingMessages();
  EXPECT_THAT(commands_.calls, ElementsAre("dropped C:\\data\\orders.txt"));
}

// The text of `control` now.
std::wstring TextOf(HWND control) {
  wchar_t text[64] = {};
  ::GetWindowTextW(control, text, 64);
  return text;
}

void Click(HWND button) {
  ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

TEST_F(WindowTest, OperationKeepsTheWindowAliveAndDropsInput) {
  Show();
  const HWND window = window_.handle();
  const HWND box = Control(KORVIK_ID_TXTFILENAME);
  LRESULT busy_cursor = FALSE;
  window_.RunOperation(CommandButton::kCheck, [&] {
    // Keys, a click, a drop while the work goes on.
    ::PostMessageW(box, WM_SYSKEYDOWN, 'E', 1 | (1 << 29));
    ::PostMessageW(box, WM_SYSCHAR, 'e', 1 | (1 << 29));
    Click(::GetDlgItem(window, KORVIK_ID_CMDHASH));
    ::PostMessageW(window, WM_DROPFILES,
                   reinterpret_cast<WPARAM>(Drop(L"C:\\data.txt")), 0);
    // The window still answers, and shows the busy cursor after a while.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    busy_cursor =
        ::SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  });
  window_.HandlePendingMessages();
  EXPECT_TRUE(busy_cursor);
  EXPECT_TRUE(commands_.calls.empty());
  EXPECT_GT(commands_.ticks, 0) << "no progress asked for";
  EXPECT_FALSE(window_.closed());
  EXPECT_FALSE(::SendMessageW(window, WM_SETCURSOR,
                              reinterpret_cast<WPARAM>(window),
                              MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
}

TEST_F(WindowTest, OperationStopsOnEscItsButtonAndTheCloseBox) {
  Show();
  const HWND window = window_.handle();
  const HWND append = Control(KORVIK_ID_CMDAPPEND);
  std::wstring caption_during;
  window_.RunOperation(CommandButton::kAppend, [&] {
    ::PostMessageW(Control(KORVIK_ID_TXTFILENAME), WM_KEYDOWN, VK_ESCAPE, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Click(append);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    caption_during = TextOf(append);
  });
  window_.HandlePendingMessages();
  EXPECT_EQ(caption_during, L"Stop");
  EXPECT_EQ(TextOf(append), L"&Append Hash");
  EXPECT_THAT(commands_.calls, ElementsAre("stop", "stop", "cmdExit"));
  EXPECT_FALSE(window_.closed()) << "the presenter closes it, not the box";
}

TEST_F(WindowTest, ProgressShowsInTheTitle) {
  window_.ShowProgress(
      "Korvik Checksum Generation Utility \xe2\x80\x94 "
      "Verifying 42 %",
      42);
  EXPECT_EQ(TextOf(window_.handle()),
            L"Korvik Checksum Generation Utility \u2014 Verifying 42 %");
  window_.ShowProgress("Korvik Checksum Generation Utility", std::nullopt);
  EXPECT_EQ(TextOf(window_.handle()), L"Korvik Checksum Generation Utility");
}

}  // namespace
}  // namespace korvik::win32
