#include "ui/qt/responsive_operation.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <thread>

namespace korvik {
namespace {

constexpr std::chrono::milliseconds kBusyCursorDelay(500);
constexpr std::chrono::milliseconds kTickInterval(100);

// Drops every event a user causes, for as long as it is installed, but
// what the controls take.
class InputBlocker : public QObject {
  Q_OBJECT

 public:
  explicit InputBlocker(const OperationControls& controls)
      : controls_(controls) {
    qApp->installEventFilter(this);
  }
  ~InputBlocker() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
            controls_.stop) {
          controls_.stop();
        }
        return true;
      case QEvent::Close:
        if (controls_.close) controls_.close();
        return true;
      case QEvent::Shortcut:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return true;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
        // A window hands its mouse events on to the widget under the
        // pointer, where they are sorted out.
        if (controls_.stop_button != nullptr &&
            (watched->isWindowType() || watched == controls_.stop_button)) {
          return false;
        }
        return true;
      default:
        return event->isInputEvent();
    }
  }

 private:
  const OperationControls& controls_;
};

}  // namespace

void RunResponsively(const std::function<void()>& work,
                     const OperationControls& controls) {
  InputBlocker blocker(controls);
  QTimer tick_timer;
  if (controls.tick) {
    QObject::connect(&tick_timer, &QTimer::timeout, controls.tick);
    tick_timer.start(kTickInterval);
  }
  bool busy_cursor = false;
  QTimer busy_timer;
  busy_timer.setSingleShot(true);
  QObject::connect(&busy_timer, &QTimer::timeout, [&busy_cursor] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busy_cursor = true;
  });
  busy_timer.start(kBusyCursorDelay);

  QEventLoop loop;
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  if (busy_cursor) QApplication::restoreOverrideCursor();
}

}  // namespace korvik

#include "responsive_operation.moc"
