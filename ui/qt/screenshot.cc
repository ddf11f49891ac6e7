// Renders the window, as it opens, to the PNG file named by the argument.
#include <QApplication>
#include <cstdio>

#include "ui/qt/frm_md5.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: korvik-window-screenshot FILE.png\n", stderr);
    return 2;
  }
  QApplication application(argc, argv);
  korvik::frmMD5 window;
  if (!window.grab().save(argv[1], "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
