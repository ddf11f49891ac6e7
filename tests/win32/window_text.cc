// Prints the text of one control of a window on the desktop, as the window
// holds it: window_text CAPTION CONTROL-ID. Ends with 1 where there is no
// such window or control.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide.h"

int main(int argc, char** argv) {
  using namespace korvik::win32;
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_text CAPTION CONTROL-ID\n");
    return 2;
  }
  const HWND window = ::FindWindowW(nullptr, Widen(argv[1]).c_str());
  const HWND control =
      window == nullptr ? nullptr : ::GetDlgItem(window, std::atoi(argv[2]));
  if (control == nullptr) return 1;
  const std::wstring text = FillBuffer([control](wchar_t* buffer, DWORD size) {
    return static_cast<DWORD>(::SendMessageW(control, WM_GETTEXT, size,
                                             reinterpret_cast<LPARAM>(buffer)));
  });
  std::printf("%s\n", Narrow(text).c_str());
  return 0;
}
