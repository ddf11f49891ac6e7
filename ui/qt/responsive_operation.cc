#include "ui/qt/responsive_operation.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

namespace korvik {
namespace {

constexpr std::chrono::milliseconds kBusyCursorDelay(500);

// Drops every event a user causes, for as long as it is installed.
class InputBlocker : public QObject {
  Q_OBJECT

 public:
  InputBlocker() { qApp->installEventFilter(this); }
  ~InputBlocker() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Close:
      case QEvent::Shortcut:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return true;
      default:
        return event->isInputEvent();
    }
  }
};

}  // namespace

void RunResponsively(const std::function<void()>& work) {
  InputBlocker blocker;
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
