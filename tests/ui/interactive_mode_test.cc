// The offer of interactive mode, and the window wired to its presenter.
#include "ui/qt/interactive_mode.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <vector>

#include "checksum/system_services.h"
#include "tests/ui/modal_watcher.h"

namespace korvik {
namespace {

struct QuestionBox {
  bool shown = false;
  QString text;
  QString title;
  QMessageBox::Icon icon{};
  QMessageBox::StandardButtons buttons;
  bool yes_is_default = false;
};

// Answers the question by clicking `answer`; returns the result and records
// the box in `seen`.
bool Ask(QMessageBox::StandardButton answer, QuestionBox& seen) {
  ModalWatcher watcher([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return;
    seen = {true,
            box->text(),
            box->windowTitle(),
            box->icon(),
            box->standardButtons(),
            box->defaultButton() == box->button(QMessageBox::Yes)};
    ClickLater(box->button(answer));
  });
  return AskToStartInteractiveMode();
}

TEST(InteractiveModeTest, QuestionOffersTheWindow) {
  QuestionBox seen;
  EXPECT_TRUE(Ask(QMessageBox::Yes, seen));
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.text,
            "No Command Line Arguments were Passed. do you want to start "
            "Interactive Mode?");
  EXPECT_EQ(seen.title, "Korvik Checksum Utility");
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(seen.yes_is_default);

  EXPECT_FALSE(Ask(QMessageBox::No, seen));
}

TEST(InteractiveModeTest, WindowRunsItsCommandsUntilExit) {
  SystemServices system(0, nullptr);
  const Services& services = system.services();

  // Generate Hash on the empty name, then Exit.
  int window_shown = 0;
  std::vector<QString> messages;
  ModalWatcher watcher([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      messages.push_back(box->text());
      ClickLater(box->button(QMessageBox::Ok));
      return;
    }
    ASSERT_EQ(modal->objectName(), "frmMD5");
    const char* button = ++window_shown == 1 ? "cmdHash" : "cmdExit";
    ClickLater(modal->findChild<QPushButton*>(button));
  });
  ShowWindow(services);
  EXPECT_EQ(window_shown, 2);
  EXPECT_EQ(messages, std::vector<QString>{"Invalid/Missing File Name!"});
}

}  // namespace
}  // namespace korvik
