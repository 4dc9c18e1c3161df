#pragma once
// The console tab: raw request lines typed by the user, the thermostat's
// answers below them and a ">" prompt. TConsole drives the text control; the
// request queue, the command history and the error box belong to the main
// window, which connects them through the callbacks.
#include "base/Timer.h"

#include <QByteArray>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QKeyEvent;
class QMimeData;

namespace calorix {

// Lines kept in the console; the oldest go first, so a long session cannot
// fill the memory.
inline constexpr int kConsoleMaxLines = 5000;
// How long the console waits for an answer before it shows the next prompt.
inline constexpr int kPromptTimeMs = 250;

// The entered line without codes up to 32 at both ends and without one
// leading prompt ">" (blanks after the prompt stay part of the command).
QString TrimEnteredLine(const QString& line);

// The request text as sent to the thermostat. The protocol is ASCII, so only
// printable ASCII (0x20..0x7E) is accepted; anything else, control codes
// included, gives no value rather than question marks or a second command.
std::optional<QByteArray> ToRequestText(const QString& text);

// Texts of the console's own refusals.
QString RefusedCommandMessage();
QString MultiLinePasteMessage();

// The console text control, edConsole. Its key-down and paste hooks let
// TConsole decide before the control's own editing runs.
class TConsoleEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TConsoleEdit(QWidget* parent = nullptr);

  // Returns true when the key is consumed (the control then ignores it).
  std::function<bool(QKeyEvent*)> OnKeyDown;
  // Paste or drop of text: may change the text; false refuses it.
  std::function<bool(QString&)> OnInsertText;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void insertFromMimeData(const QMimeData* source) override;
};

class TConsole : public QObject {
  Q_OBJECT
 public:
  // Creates edConsole as a child of host (the console tab; the caller puts it
  // into the tab's layout) and, unless one is given, the 250 ms single-shot
  // prompt timer. A given timer gets the prompt handler if it has none yet.
  explicit TConsole(QWidget* host, TTimer* promptTimer = nullptr);
  ~TConsole() override;

  TConsoleEdit* edConsole() const { return FEdit; }
  TTimer* PromptTimer() const { return FPromptTimer; }

  // The line as a request, line feed included (the main window queues it as
  // a console request; without a thermostat the queue drops it).
  std::function<void(const QByteArray&)> SendLine;
  // Empties the request queue after the wait for an answer ran out.
  std::function<void()> ClearRequests;
  std::function<void(const QString&)> ShowError;
  // The command history; unset means an empty history.
  std::function<QString()> HistoryUp;
  std::function<QString()> HistoryDown;
  std::function<void(const QString&)> HistoryAdd;

  // Start-up: empties the console, sets its background and shows the prompt.
  void StartUp();
  // Writable with lime text, or read-only with grey text.
  void EnableConsole(bool on);
  // Focus for the console when its tab becomes active.
  void FocusConsole();

  // Key rules of the console (Qt key code and modifiers); true = consumed.
  bool edConsoleKeyDown(int key, Qt::KeyboardModifiers shift);
  // The whole answer line of a console request, without its line end.
  void ShowConsoleAnswer(const QString& answer);
  void PromptTimerTimer();

  // Appends text as it stands ("\r" ends a line) and puts the caret at the end.
  void ConsoleAppend(const QString& text);
  void ShowPrompt() { ConsoleAppend(QStringLiteral(">")); }

  // Lines of the console; an empty last line is not counted.
  int LineCount() const;
  QString LineText(int index) const;

 private:
  bool RunEnteredLine();
  void ReplaceLine(int index, const QString& text);
  void SetCaret(int column, int line);
  void ReplaceHistoryLine(const QString& entry);
  QString TakeTypedAhead();
  bool AcceptInsertText(QString& text);

  QPointer<TConsoleEdit> FEdit;   // owned by the host
  QPointer<TTimer> FPromptTimer;  // ours, or the caller's
  bool FOwnTimerHandler = false;  // the timer's handler is ours
};

}  // namespace calorix
