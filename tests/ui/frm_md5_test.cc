// The window itself: its controls, its keys, and what it passes on.
#include "ui/qt/frm_md5.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/modal_watcher.h"

namespace korvik {
namespace {

// Records the commands the window passes on.
class CommandSpy : public WindowCommands {
 public:
  void cmdOpen_Click() override { calls.push_back("cmdOpen"); }
  void cmdHash_Click() override { calls.push_back("cmdHash"); }
  void cmdAppend_Click() override { calls.push_back("cmdAppend"); }
  void cmdCheck_Click() override { calls.push_back("cmdCheck"); }
  void cmdExit_Click() override { calls.push_back("cmdExit"); }
  void FileDropped(const std::string& file_name) override {
    calls.push_back("drop " + file_name);
  }
  void StopOperation() override { calls.push_back("stop"); }
  void OperationTick() override { ++ticks; }
  std::vector<std::string> calls;
  int ticks = 0;
};

class FrmMd5Test : public testing::Test {
 protected:
  FrmMd5Test() { window_.ForwardTo(spy_); }

  template <typename Widget = QWidget>
  Widget* Control(const char* name) {
    auto* control = window_.findChild<Widget*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  void ShowActive() {
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }

  // The geometry of every child widget, by object name.
  std::map<QString, QRect> ControlGeometries() {
    std::map<QString, QRect> geometries;
    for (QWidget* child : window_.findChildren<QWidget*>(
             QString(), Qt::FindDirectChildrenOnly)) {
      geometries[child->objectName()] = child->geometry();
    }
    return geometries;
  }

  CommandSpy spy_;
  frmMD5 window_;
};

using FrmMd5LayoutTest = FrmMd5Test;

TEST_F(FrmMd5LayoutTest, ControlsSitWhereTheyBelong) {
  const std::map<QString, QRect> expected = {
      {"txtFilename", {8, 24, 361, 19}}, {"cmdOpen", {368, 24, 25, 20}},
      {"cmdHash", {408, 24, 89, 25}},    {"cmdCheck", {512, 24, 89, 25}},
      {"txtHash", {8, 64, 361, 19}},     {"cmdAppend", {408, 64, 89, 25}},
      {"cmdExit", {512, 64, 89, 25}},
  };
  window_.show();
  EXPECT_EQ(window_.size(), QSize(610, 97));
  std::map<QString, QRect> actual = ControlGeometries();
  EXPECT_EQ(actual.extract("Label2").mapped().topLeft(), QPoint(8, 8));
  EXPECT_EQ(actual.extract("Label1").mapped().topLeft(), QPoint(8, 48));
  EXPECT_EQ(actual, expected);
}

TEST_F(FrmMd5LayoutTest, CaptionsAndEmptyBoxes) {
  EXPECT_EQ(window_.windowTitle(), "Korvik Checksum Generation Utility");
  EXPECT_EQ(Control<QLabel>("Label2")->text(), "Data file name");
  EXPECT_EQ(Control<QLabel>("Label1")->text(), "Hash of the selected file :");
  EXPECT_EQ(Control<QPushButton>("cmdOpen")->text(), "...");
  EXPECT_EQ(Control<QPushButton>("cmdHash")->text(), "&Generate Hash");
  EXPECT_EQ(Control<QPushButton>("cmdCheck")->text(), "Verify Hash");
  EXPECT_EQ(Control<QPushButton>("cmdAppend")->text(), "&Append Hash");
  EXPECT_EQ(Control<QPushButton>("cmdExit")->text(), "&Exit");
  EXPECT_EQ(Control<QLineEdit>("txtFilename")->text(), "");
  EXPECT_EQ(Control<QLineEdit>("txtHash")->text(), "");
}

TEST_F(FrmMd5LayoutTest, LabelsHugTheirCaptionsOnOneLine) {
  for (const char* name : {"Label1", "Label2"}) {
    auto* label = Control<QLabel>(name);
    const QFontMetrics metrics(label->font());
    EXPECT_EQ(label->size(), metrics.size(Qt::TextSingleLine, label->text()))
        << name;
  }
}

TEST_F(FrmMd5LayoutTest, ButtonCaptionsFitTheirButtons) {
  for (QPushButton* button : window_.findChildren<QPushButton*>()) {
    const QFontMetrics metrics(button->font());
    const int margin =
        button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    const QString caption = QString(button->text()).remove('&');
    EXPECT_LE(metrics.horizontalAdvance(caption) + 2 * margin, button->width())
        << button->objectName().toStdString();
    EXPECT_LE(metrics.height(), button->height())
        << button->objectName().toStdString();
  }
}

TEST_F(FrmMd5LayoutTest, ResizingMovesNothing) {
  window_.show();
  const std::map<QString, QRect> before = ControlGeometries();
  for (QSize size : {QSize(900, 300), QSize(200, 40), QSize(610, 97)}) {
    window_.resize(size);
    QApplication::processEvents();
    EXPECT_EQ(ControlGeometries(), before) << size.width();
  }
}

TEST_F(FrmMd5LayoutTest, LooksAndFrame) {
  EXPECT_EQ(Control<QLineEdit>("txtHash")->palette().color(QPalette::Text),
            QColor(0, 0, 255));
  EXPECT_NE(Control<QLineEdit>("txtFilename")->palette().color(QPalette::Text),
            QColor(0, 0, 255));
  const QFont open_font = Control("cmdOpen")->font();
  EXPECT_EQ(open_font.pointSize(), 12);
  EXPECT_TRUE(open_font.bold());
  EXPECT_EQ(Control("cmdHash")->font(), window_.font());
  EXPECT_EQ(window_.font().pointSize(), 8);

  const Qt::WindowFlags flags = window_.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(window_.windowIcon().availableSizes().contains(QSize(32, 32)));
  // The frame, which the window manager adds on showing, is left out.
  EXPECT_EQ(window_.geometry().center(),
            window_.screen()->availableGeometry().center());
}

using FrmMd5KeyboardTest = FrmMd5Test;

TEST_F(FrmMd5KeyboardTest, TabOrderStartsAtTheFileName) {
  ShowActive();
  std::vector<QString> order;
  for (int i = 0; i < 8; ++i) {
    order.push_back(QApplication::focusWidget()->objectName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(order, (std::vector<QString>{"txtFilename", "cmdOpen", "txtHash",
                                         "cmdExit", "cmdAppend", "cmdHash",
                                         "cmdCheck", "txtFilename"}));
}

TEST_F(FrmMd5KeyboardTest, AccessKeysPressTheirButtons) {
  ShowActive();
  const std::pair<Qt::Key, const char*> keys[] = {
      {Qt::Key_G, "cmdHash"},
      {Qt::Key_A, "cmdAppend"},
      {Qt::Key_E, "cmdExit"},
  };
  for (const auto& [key, button] : keys) {
    spy_.calls.clear();
    // Verify Hash has no access key. A button pressed by its key shows
    // pressed a moment before it clicks, so Alt+V would click first.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !spy_.calls.empty(); }));
    EXPECT_EQ(spy_.calls, std::vector<std::string>{button});
  }
}

TEST_F(FrmMd5KeyboardTest, EnterAndEscPressNothing) {
  ShowActive();
  for (const char* name : {"txtFilename", "txtHash", "cmdHash", "cmdExit"}) {
    QWidget* control = Control(name);
    control->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QTest::keyClick(control, key);
    }
    EXPECT_TRUE(window_.isVisible()) << name;
  }
  EXPECT_EQ(spy_.calls, std::vector<std::string>{});
}

TEST_F(FrmMd5Test, CloseBoxEndsTheWindow) {
  QTimer::singleShot(0, &window_, [this] { window_.windowHandle()->close(); });
  window_.exec();
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(FrmMd5Test, ButtonsPassTheirClicksOn) {
  for (const char* name :
       {"cmdOpen", "cmdHash", "cmdCheck", "cmdAppend", "cmdExit"}) {
    QTest::mouseClick(Control(name), Qt::LeftButton);
  }
  EXPECT_EQ(spy_.calls,
            (std::vector<std::string>{"cmdOpen", "cmdHash", "cmdCheck",
                                      "cmdAppend", "cmdExit"}));
}

TEST_F(FrmMd5Test, DroppedFilePassesOn) {
  QMimeData files;
  files.setUrls({QUrl("https://example.org/page"),
                 QUrl::fromLocalFile("/data/orders 2.csv")});
  QDragEnterEvent enter({20, 30}, Qt::CopyAction, &files, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(&window_, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(20, 30), Qt::CopyAction, &files, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(&window_, &drop);
  EXPECT_EQ(spy_.calls, std::vector<std::string>{"drop /data/orders 2.csv"});
  // Text boxes leave drops to the window.
  EXPECT_FALSE(Control("txtFilename")->acceptDrops());
  EXPECT_FALSE(Control("txtHash")->acceptDrops());
}

TEST_F(FrmMd5Test, DraggedTextIsRefused) {
  QMimeData text;
  text.setText("/data/orders.csv");
  QDragEnterEvent enter({20, 30}, Qt::CopyAction, &text, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(&window_, &enter);
  EXPECT_FALSE(enter.isAccepted());
}

TEST_F(FrmMd5Test, BoxesShowAndReportTheirText) {
  window_.SetFileNameText("/data/r\xc3\xa9sum\xc3\xa9.txt");
  window_.SetHashText("181d2114c6f52ba7333ecd2ecb6684c0");
  EXPECT_EQ(Control<QLineEdit>("txtFilename")->text(),
            QString::fromUtf8("/data/r\xc3\xa9sum\xc3\xa9.txt"));
  EXPECT_EQ(Control<QLineEdit>("txtHash")->text(),
            "181d2114c6f52ba7333ecd2ecb6684c0");
  Control<QLineEdit>("txtFilename")->setText("/data/typed  ");
  EXPECT_EQ(window_.FileNameText(), "/data/typed  ");
}

using FrmMd5OperationTest = FrmMd5Test;

// Runs an operation whose work waits until `ui_step`, run on the window's
// thread meanwhile, has returned true; gives up after 30 s, a guard against
// a hang.
void RunOperationUntil(frmMD5& window, CommandButton button,
                       const std::function<bool()>& ui_step) {
  std::atomic<bool> stepped = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!stepped && ui_step()) stepped = true;
  });
  timer.start(10);
  window.RunOperation(button, [&] {
    for (int i = 0; i < 3000 && !stepped; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_TRUE(stepped) << "the window's thread stood still";
}

TEST_F(FrmMd5OperationTest, StartingButtonReadsStopAndStops) {
  ShowActive();
  auto* check = Control<QPushButton>("cmdCheck");
  QString caption_during;
  RunOperationUntil(window_, CommandButton::kCheck, [&] {
    caption_during = check->text();
    QTest::mouseClick(check, Qt::LeftButton);
    // Every other button stays dead.
    QTest::mouseClick(Control("cmdHash"), Qt::LeftButton);
    QTest::mouseClick(Control("cmdExit"), Qt::LeftButton);
    return spy_.ticks > 0;
  });
  EXPECT_EQ(caption_during, "Stop");
  EXPECT_EQ(check->text(), "Verify Hash");
  ASSERT_FALSE(spy_.calls.empty());
  EXPECT_EQ(spy_.calls, std::vector<std::string>(spy_.calls.size(), "stop"));
}

TEST_F(FrmMd5OperationTest, EscStopsAndTheCloseBoxExits) {
  ShowActive();
  RunOperationUntil(window_, CommandButton::kAppend, [&] {
    EXPECT_EQ(Control<QPushButton>("cmdAppend")->text(), "Stop");
    QTest::keyClick(Control("txtFilename"), Qt::Key_Escape);
    QTest::keyClick(Control("txtFilename"), Qt::Key_G, Qt::AltModifier);
    window_.windowHandle()->close();
    return true;
  });
  EXPECT_EQ(spy_.calls, (std::vector<std::string>{"stop", "cmdExit"}));
  EXPECT_TRUE(window_.isVisible()) << "the presenter closes it, not the box";
  EXPECT_EQ(Control<QPushButton>("cmdAppend")->text(), "&Append Hash");
}

TEST_F(FrmMd5OperationTest, ProgressShowsInTheTitle) {
  window_.ShowProgress(
      "Korvik Checksum Generation Utility \u2014 Verifying 42 %", 42);
  EXPECT_EQ(
      window_.windowTitle(),
      QString::fromUtf8(
          "Korvik Checksum Generation Utility \xe2\x80\x94 Verifying 42 %"));
}

struct ShownBox {
  QMessageBox::Icon icon;
  QString title;
  QString text;
  Qt::TextFormat format;
  QMessageBox::StandardButtons buttons;
};

// Shows a message through the window and returns what the box looked like.
ShownBox ShowAndRead(frmMD5& window, const std::string& text,
                     MessageIcon icon) {
  ShownBox shown{};
  ModalWatcher watcher([&shown](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return;
    shown = {box->icon(), box->windowTitle(), box->text(), box->textFormat(),
             box->standardButtons()};
    ClickLater(box->button(QMessageBox::Ok));
  });
  window.ShowMessage(text, icon);
  return shown;
}

TEST_F(FrmMd5Test, MessagesShowInABoxWithOk) {
  const ShownBox warning =
      ShowAndRead(window_, "Error Verifying Hash : \r\n<read> failed",
                  MessageIcon::kWarning);
  EXPECT_EQ(warning.icon, QMessageBox::Warning);
  EXPECT_EQ(warning.title, "Korvik Checksum Utility");
  EXPECT_EQ(warning.text, "Error Verifying Hash : \n<read> failed");
  EXPECT_EQ(warning.format, Qt::PlainText);
  EXPECT_EQ(warning.buttons, QMessageBox::Ok);

  const ShownBox information =
      ShowAndRead(window_, "Hash Appended successfully to : /data/a.txt",
                  MessageIcon::kInformation);
  EXPECT_EQ(information.icon, QMessageBox::Information);
  EXPECT_EQ(information.text, "Hash Appended successfully to : /data/a.txt");
}

}  // namespace
}  // namespace korvik
