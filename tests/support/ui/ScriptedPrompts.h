#pragma once
// Prompts answered from a script, so window tests run without a modal loop.
// Every question asked is recorded; an unscripted question gets the default
// answer (No, cancel) and is recorded too.
#include "app/Prompts.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

namespace calorix::test {

class TScriptedPrompts final : public IPrompts {
 public:
  struct TAsked {
    QString Kind;  // "error", "confirm", "warn", "exception", "open", "save", "print", "dialog"
    QString Text;
  };

  void ShowError(QWidget*, const QString& text) override;
  bool Confirm(QWidget*, const QString& text) override;
  bool Warn(QWidget*, const QString& text) override;
  void ShowException(QWidget*, const QString& text) override;
  std::optional<QString> OpenFileName(QWidget*, const TFileDialogSpec& dialog) override;
  std::optional<QString> SaveFileName(QWidget*, const TFileDialogSpec& dialog) override;
  bool PrintDialog(QWidget*, QPrinter& printer) override;
  int ExecDialog(QDialog& dialog) override;

  // Answers, taken in order.
  std::deque<bool> YesNo;                        // Confirm and Warn
  std::deque<std::optional<QString>> FileNames;  // Open and Save
  std::deque<bool> PrintAnswers;
  // A dialog is handed to this (it may fill the dialog's controls) and its result returned.
  std::function<int(QDialog&)> OnDialog;
  // Runs inside ShowError, as a user who takes time to read the box would let events run.
  std::function<void(const QString&)> OnError;

  std::vector<TAsked> Asked;
  QStringList Errors() const;
  int Count(const QString& kind) const;
};

}  // namespace calorix::test
