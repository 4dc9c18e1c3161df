#pragma once
// The program's prompts: Qt's message boxes and file, print and modal dialogs.
#include "app/Prompts.h"

namespace calorix {

class TQtPrompts final : public IPrompts {
 public:
  void ShowError(QWidget* parent, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& text) override;
  bool Warn(QWidget* parent, const QString& text) override;
  void ShowException(QWidget* parent, const QString& text) override;
  std::optional<QString> OpenFileName(QWidget* parent, const TFileDialogSpec& dialog) override;
  std::optional<QString> SaveFileName(QWidget* parent, const TFileDialogSpec& dialog) override;
  bool PrintDialog(QWidget* parent, QPrinter& printer) override;
  int ExecDialog(QDialog& dialog) override;

 private:
  QString FLastOpenPath, FLastSavePath;  // the dialogs remember the last chosen path
};

}  // namespace calorix
