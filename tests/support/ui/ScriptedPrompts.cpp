#include "tests/support/ui/ScriptedPrompts.h"

#include <QDialog>

namespace calorix::test {
namespace {
template <class T>
T Take(std::deque<T>& answers, T fallback) {
  if (answers.empty())
    return fallback;
  T v = answers.front();
  answers.pop_front();
  return v;
}
}  // namespace

void TScriptedPrompts::ShowError(QWidget*, const QString& text) {
  Asked.push_back({QStringLiteral("error"), text});
  if (OnError)
    OnError(text);
}

bool TScriptedPrompts::Confirm(QWidget*, const QString& text) {
  Asked.push_back({QStringLiteral("confirm"), text});
  return Take(YesNo, false);
}

bool TScriptedPrompts::Warn(QWidget*, const QString& text) {
  Asked.push_back({QStringLiteral("warn"), text});
  return Take(YesNo, false);
}

void TScriptedPrompts::ShowException(QWidget*, const QString& text) {
  Asked.push_back({QStringLiteral("exception"), text});
}

std::optional<QString> TScriptedPrompts::OpenFileName(QWidget*, const TFileDialogSpec& dialog) {
  Asked.push_back({QStringLiteral("open"), dialog.Title});
  return Take(FileNames, std::optional<QString>());
}

std::optional<QString> TScriptedPrompts::SaveFileName(QWidget*, const TFileDialogSpec& dialog) {
  Asked.push_back({QStringLiteral("save"), dialog.Title});
  return Take(FileNames, std::optional<QString>());
}

bool TScriptedPrompts::PrintDialog(QWidget*, QPrinter&) {
  Asked.push_back({QStringLiteral("print"), QString()});
  return Take(PrintAnswers, false);
}

int TScriptedPrompts::ExecDialog(QDialog& dialog) {
  Asked.push_back({QStringLiteral("dialog"), dialog.objectName()});
  if (!OnDialog)
    return QDialog::Rejected;
  dialog.show();
  int r = OnDialog(dialog);
  dialog.hide();
  return r;
}

QStringList TScriptedPrompts::Errors() const {
  QStringList out;
  for (const auto& a : Asked)
    if (a.Kind == QLatin1String("error"))
      out << a.Text;
  return out;
}

int TScriptedPrompts::Count(const QString& kind) const {
  int n = 0;
  for (const auto& a : Asked)
    n += a.Kind == kind;
  return n;
}

}  // namespace calorix::test
