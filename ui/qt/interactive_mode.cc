#include "ui/qt/interactive_mode.h"

#include <QMessageBox>

#include "ui/program_title.h"
#include "ui/qt/frm_md5.h"
#include "ui/window_presenter.h"

namespace korvik {

bool AskToStartInteractiveMode() {
  QMessageBox question(QMessageBox::Question, kProgramTitle,
                       "No Command Line Arguments were Passed. do you want "
                       "to start Interactive Mode?",
                       QMessageBox::Yes | QMessageBox::No);
  question.setDefaultButton(QMessageBox::Yes);
  return question.exec() == QMessageBox::Yes;
}

void ShowWindow(const Services& services) {
  frmMD5 window;
  WindowPresenter presenter(services, window);
  window.ForwardTo(presenter);
  window.exec();
}

}  // namespace korvik
