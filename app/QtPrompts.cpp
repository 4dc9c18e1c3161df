#include "app/QtPrompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>

namespace calorix {
namespace {

bool AskYesNo(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
              const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.exec();
  return box.clickedButton() == yes;
}

std::optional<QString> RunFileDialog(QWidget* parent, const TFileDialogSpec& dialog, bool save,
                                     QString& lastPath) {
  QFileDialog dlg(parent, dialog.Title, lastPath, dialog.Filter);
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dlg.setDefaultSuffix(dialog.DefaultSuffix);
  dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (!lastPath.isEmpty())
    dlg.selectFile(lastPath);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
    return std::nullopt;
  lastPath = dlg.selectedFiles().first();
  return lastPath;
}

}  // namespace

void TQtPrompts::ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
  box.exec();
}

bool TQtPrompts::Confirm(QWidget* parent, const QString& text) {
  return AskYesNo(parent, QMessageBox::Question, QStringLiteral("Confirm"), text);
}

bool TQtPrompts::Warn(QWidget* parent, const QString& text) {
  return AskYesNo(parent, QMessageBox::Warning, QStringLiteral("Warning"), text);
}

void TQtPrompts::ShowException(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Calorix"), text, QMessageBox::Ok, parent);
  box.exec();
}

std::optional<QString> TQtPrompts::OpenFileName(QWidget* parent, const TFileDialogSpec& dialog) {
  return RunFileDialog(parent, dialog, false, FLastOpenPath);
}

std::optional<QString> TQtPrompts::SaveFileName(QWidget* parent, const TFileDialogSpec& dialog) {
  return RunFileDialog(parent, dialog, true, FLastSavePath);
}

bool TQtPrompts::PrintDialog(QWidget* parent, QPrinter& printer) {
  QPrintDialog dlg(&printer, parent);
  return dlg.exec() == QDialog::Accepted;
}

int TQtPrompts::ExecDialog(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace calorix
