#pragma once
// Every modal question the program asks goes through this interface: the
// program answers it with Qt's dialogs, the tests with scripted answers.
#include <QString>

#include <optional>

class QWidget;
class QDialog;
class QPrinter;

namespace calorix {

struct TFileDialogSpec {
  QString Title;
  QString Filter;  // Qt form: "Файлы приложения (*.csv);;Все файлы (*.*)"
  QString DefaultSuffix;  // appended when the typed name has none
};

class IPrompts {
 public:
  virtual ~IPrompts() = default;
  // Error box: error icon, caption "Error", one OK button.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // Confirmation: question icon, caption "Confirm", buttons "&Yes" and "&No". True for Yes.
  virtual bool Confirm(QWidget* parent, const QString& text) = 0;
  // Warning: warning icon, caption "Warning", buttons "&Yes" and "&No". True for Yes.
  virtual bool Warn(QWidget* parent, const QString& text) = 0;
  // The box for an exception that escaped an event handler.
  virtual void ShowException(QWidget* parent, const QString& text) = 0;
  // File dialogs: the chosen path, or none when cancelled.
  virtual std::optional<QString> OpenFileName(QWidget* parent, const TFileDialogSpec& dialog) = 0;
  virtual std::optional<QString> SaveFileName(QWidget* parent, const TFileDialogSpec& dialog) = 0;
  // The print dialog for printer; true when the user confirmed.
  virtual bool PrintDialog(QWidget* parent, QPrinter& printer) = 0;
  // Shows a dialog modally and returns its result (QDialog::Accepted or Rejected).
  virtual int ExecDialog(QDialog& dialog) = 0;
};

}  // namespace calorix
