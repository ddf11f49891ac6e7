// The interactive window. It only shows what it is told and passes its
// clicks and drops on to the WindowCommands; every decision lies there.
#pragma once

#include <QDialog>

#include "ui/window_view.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvik {

class frmMD5 : public QDialog, public WindowView {
  Q_OBJECT

 public:
  explicit frmMD5(QWidget* parent = nullptr);

  // Sends every click and drop to `commands`; call once.
  void ForwardTo(WindowCommands& commands);

  std::string FileNameText() override;
  void SetFileNameText(const std::string& text) override;
  void SetHashText(const std::string& text) override;
  std::string ShowOpenFileDialog() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void RunOperation(CommandButton started_by,
                    const std::function<void()>& work) override;
  void ShowProgress(const std::string& caption,
                    std::optional<int> percent) override;
  void CloseWindow() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void AddLabel(const char* name, const char* caption, QPoint position);
  QLineEdit* AddTextBox(const char* name, QRect geometry);
  QPushButton* AddButton(const char* name, const char* caption, QRect geometry);

  WindowCommands* commands_ = nullptr;
  QLineEdit* txtFilename_;
  QLineEdit* txtHash_;
  QPushButton* cmdOpen_;
  QPushButton* cmdHash_;
  QPushButton* cmdCheck_;
  QPushButton* cmdAppend_;
  QPushButton* cmdExit_;
  bool busy_ = false;  // an operation is running
};

}  // namespace korvik
