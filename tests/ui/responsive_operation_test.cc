// Long work runs beside a live, but untouchable, window.
#include "ui/qt/responsive_operation.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <future>
#include <set>
#include <thread>

namespace korvik {
namespace {

using std::chrono::seconds;

// Records the types of the events that reach an object.
class EventLog : public QObject {
 public:
  explicit EventLog(QObject& watched) { watched.installEventFilter(this); }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    types.insert(event->type());
    return false;
  }
  std::set<QEvent::Type> types;
};

// A guard against a hang, not a measure: the work waits at most this long
// for the window's thread.
constexpr seconds kPatience(30);

class ResponsiveOperationTest : public testing::Test {
 protected:
  ResponsiveOperationTest() {
    button_.setText("&Go");
    QObject::connect(&button_, &QPushButton::clicked, [this] { ++clicks_; });
    button_.show();
    button_.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&button_));
  }

  // Runs work that waits until `ui_step`, run on the window's thread while
  // the work waits, has returned true.
  void RunUntil(const std::function<bool()>& ui_step) {
    std::promise<void> stepped;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (ui_step()) {
        timer.stop();
        stepped.set_value();
      }
    });
    timer.start(10);
    std::future<void> done = stepped.get_future();
    bool waited = false;
    RunResponsively([&] {
      work_thread_ = std::this_thread::get_id();
      waited = done.wait_for(kPatience) == std::future_status::ready;
    });
    EXPECT_TRUE(waited) << "the window's thread stood still during the work";
  }

  QPushButton button_;
  int clicks_ = 0;
  std::thread::id work_thread_;
};

TEST_F(ResponsiveOperationTest, WorkRunsOffTheWindowsThread) {
  RunUntil([] { return true; });
  EXPECT_NE(work_thread_, std::this_thread::get_id());
}

TEST_F(ResponsiveOperationTest, InputDuringTheWorkIsDropped) {
  EventLog reached(button_);
  RunUntil([this] {
    QTest::mouseClick(&button_, Qt::LeftButton);
    QTest::keyClick(&button_, Qt::Key_Space);
    QTest::keyClick(&button_, Qt::Key_G, Qt::AltModifier);
    button_.windowHandle()->close();
    return true;
  });
  for (QEvent::Type input :
       {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::KeyPress,
        QEvent::KeyRelease, QEvent::Shortcut, QEvent::Close}) {
    EXPECT_FALSE(reached.types.contains(input)) << input;
  }
  EXPECT_EQ(clicks_, 0);
  EXPECT_TRUE(button_.isVisible());

  QTest::mouseClick(&button_, Qt::LeftButton);
  EXPECT_EQ(clicks_, 1) << "input stays blocked after the work";
}

TEST_F(ResponsiveOperationTest, BusyCursorShowsWhileTheWorkLasts) {
  RunUntil([] {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  });
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace korvik
