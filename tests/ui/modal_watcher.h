// Answers modal boxes for tests, so that none waits for a person.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace korvik {

// Calls `answer` once with every modal widget that comes up, while it
// exists. `answer` must close the widget, or act on it, without blocking:
// clicks go through the event queue (see ClickLater).
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QWidget*)> answer)
      : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_) return;
    last_ = modal;
    answer_(modal);
  }

  std::function<void(QWidget*)> answer_;
  QPointer<QWidget> last_;
  QTimer timer_;
};

// Clicks `button` once the event loop runs again.
template <typename Button>
void ClickLater(Button* button) {
  QTimer::singleShot(0, button, [button] { button->click(); });
}

}  // namespace korvik
