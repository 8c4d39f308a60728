#include "app/dialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace pw {
namespace {
FolderChooser folderChooser;
MessageSink messageSink;
QuestionSink questionSink;
}  // namespace

std::string ChooseFolder(QWidget* parent, const QString& title, const std::string& start) {
  if (folderChooser) return folderChooser(parent, title, start);
  const QString dir = QFileDialog::getExistingDirectory(
      parent, title, QFile::decodeName(QByteArray::fromStdString(start)),
      QFileDialog::ShowDirsOnly);
  return dir.isEmpty() ? std::string() : QFile::encodeName(dir).toStdString();
}

void ShowMessage(QWidget* parent, MessageKind kind, const QString& text) {
  if (messageSink) {
    messageSink(parent, kind, text);
    return;
  }
  if (kind == MessageKind::Information)
    QMessageBox::information(parent, QStringLiteral("Plinthwick"), text);
  else
    QMessageBox::warning(parent, QStringLiteral("Plinthwick"), text);
}

bool AskYesNo(QWidget* parent, const QString& text) {
  if (questionSink) return questionSink(parent, text);
  return QMessageBox::question(parent, QStringLiteral("Plinthwick"), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void SetFolderChooser(FolderChooser chooser) {
  folderChooser = std::move(chooser);
}
void SetMessageSink(MessageSink sink) {
  messageSink = std::move(sink);
}
void SetQuestionSink(QuestionSink sink) {
  questionSink = std::move(sink);
}

}  // namespace pw
