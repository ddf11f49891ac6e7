#include "ui/qt/frm_md5.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <optional>
#include <utility>

#include "ui/program_title.h"
#include "ui/qt/responsive_operation.h"

namespace korvik {
namespace {

constexpr char kStopCaption[] = "Stop";
constexpr QSize kClientSize(610, 97);
// Liberation Sans at 8 points stands in for the classic 8-point dialog
// font; it is narrow enough for every caption to fit its control.
constexpr char kFontFamily[] = "Liberation Sans";
constexpr int kFontPoints = 8;
constexpr int kOpenButtonPoints = 12;
constexpr QColor kHashColour(0, 0, 255);

// File names pass between Qt and the checksum operations in the file
// system's encoding.
QString ToQt(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

std::string FromQt(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

// Returns the first local file among the dragged items.
std::optional<QString> DraggedFile(const QMimeData& data) {
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return std::nullopt;
}

}  // namespace

frmMD5::frmMD5(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("frmMD5");
  setWindowTitle(kWindowCaption);
  setWindowIcon(QIcon(":/korvik/korvik.png"));
  setFont(QFont(kFontFamily, kFontPoints));
  setAcceptDrops(true);
  resize(kClientSize);

  // Placed by hand, without a layout, so that resizing moves nothing.
  AddLabel("Label2", "Data file name", {8, 8});
  txtFilename_ = AddTextBox("txtFilename", {8, 24, 361, 19});
  cmdOpen_ = AddButton("cmdOpen", "...", {368, 24, 25, 20});
  cmdHash_ = AddButton("cmdHash", "&Generate Hash", {408, 24, 89, 25});
  cmdCheck_ = AddButton("cmdCheck", "Verify Hash", {512, 24, 89, 25});
  AddLabel("Label1", "Hash of the selected file :", {8, 48});
  txtHash_ = AddTextBox("txtHash", {8, 64, 361, 19});
  cmdAppend_ = AddButton("cmdAppend", "&Append Hash", {408, 64, 89, 25});
  cmdExit_ = AddButton("cmdExit", "&Exit", {512, 64, 89, 25});

  QFont open_font = font();
  open_font.setPointSize(kOpenButtonPoints);
  open_font.setBold(true);
  cmdOpen_->setFont(open_font);
  QPalette hash_palette = txtHash_->palette();
  hash_palette.setColor(QPalette::Text, kHashColour);
  txtHash_->setPalette(hash_palette);

  QWidget* const tab_order[] = {txtFilename_, cmdOpen_, txtHash_, cmdExit_,
                                cmdAppend_,   cmdHash_, cmdCheck_};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }
  txtFilename_->setFocus();
  move(screen()->availableGeometry().center() - rect().center());
}

void frmMD5::AddLabel(const char* name, const char* caption, QPoint position) {
  auto* label = new QLabel(caption, this);
  label->setObjectName(name);
  label->move(position);
  label->adjustSize();
}

QLineEdit* frmMD5::AddTextBox(const char* name, QRect geometry) {
  auto* box = new QLineEdit(this);
  box->setObjectName(name);
  box->setGeometry(geometry);
  // A drop on a text box counts as a drop on the window.
  box->setAcceptDrops(false);
  return box;
}

QPushButton* frmMD5::AddButton(const char* name, const char* caption,
                               QRect geometry) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(name);
  button->setGeometry(geometry);
  // No button is the default one, not even while it has the focus.
  button->setAutoDefault(false);
  return button;
}

void frmMD5::ForwardTo(WindowCommands& commands) {
  commands_ = &commands;
  const std::pair<QPushButton*, void (WindowCommands::*)()> clicks[] = {
      {cmdOpen_, &WindowCommands::cmdOpen_Click},
      {cmdHash_, &WindowCommands::cmdHash_Click},
      {cmdAppend_, &WindowCommands::cmdAppend_Click},
      {cmdCheck_, &WindowCommands::cmdCheck_Click},
      {cmdExit_, &WindowCommands::cmdExit_Click},
  };
  for (const auto& [button, command] : clicks) {
    // Captured through an initializer: Clang before 16 cannot capture a
    // structured binding.
    // While an operation runs, only its own button, then "Stop", is live.
    connect(button, &QPushButton::clicked, this,
            [this, &commands, command = command] {
              if (busy_) {
                commands.StopOperation();
              } else {
                (commands.*command)();
              }
            });
  }
}

std::string frmMD5::FileNameText() { return FromQt(txtFilename_->text()); }

void frmMD5::SetFileNameText(const std::string& text) {
  txtFilename_->setText(ToQt(text));
}

void frmMD5::SetHashText(const std::string& text) {
  txtHash_->setText(ToQt(text));
}

std::string frmMD5::ShowOpenFileDialog() {
  return FromQt(QFileDialog::getOpenFileName(this));
}

void frmMD5::ShowMessage(const std::string& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::kWarning ? QMessageBox::Warning
                                                : QMessageBox::Information,
                  kProgramTitle, ToQt(text).replace("\r\n", "\n"),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void frmMD5::RunOperation(CommandButton started_by,
                          const std::function<void()>& work) {
  QPushButton* const stop_button = started_by == CommandButton::kHash ? cmdHash_
                                   : started_by == CommandButton::kAppend
                                       ? cmdAppend_
                                       : cmdCheck_;
  const QString caption = stop_button->text();
  stop_button->setText(kStopCaption);
  busy_ = true;
  auto forward = [this](void (WindowCommands::*command)()) {
    return [this, command] {
      if (commands_ != nullptr) (commands_->*command)();
    };
  };
  RunResponsively(work, {stop_button, forward(&WindowCommands::StopOperation),
                         forward(&WindowCommands::cmdExit_Click),
                         forward(&WindowCommands::OperationTick)});
  busy_ = false;
  stop_button->setText(caption);
}

// The title carries the progress; X11 has no taskbar button to show it on.
void frmMD5::ShowProgress(const std::string& caption,
                          std::optional<int> /*percent*/) {
  setWindowTitle(QString::fromStdString(caption));
}

void frmMD5::CloseWindow() { close(); }

// Enter and Esc press nothing: the window has neither a default nor a
// cancel button, so QDialog's handling of those keys is skipped.
void frmMD5::keyPressEvent(QKeyEvent* event) { QWidget::keyPressEvent(event); }

void frmMD5::dragEnterEvent(QDragEnterEvent* event) {
  if (DraggedFile(*event->mimeData())) event->acceptProposedAction();
}

void frmMD5::dropEvent(QDropEvent* event) {
  const std::optional<QString> file = DraggedFile(*event->mimeData());
  if (!file || commands_ == nullptr) return;
  event->acceptProposedAction();
  commands_->FileDropped(FromQt(*file));
}

}  // namespace korvik
