#include "console/Console.h"

#include "base/Timer.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QMimeData>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace calorix {
namespace {

const QColor kBackground(0x28, 0x28, 0x28);
const QColor kLiveText(0x00, 0xFF, 0x00);
const QColor kIdleText(0x80, 0x80, 0x80);

bool IsLineBreak(QChar ch) {
  switch (ch.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:  // next line
    case 0x2028:  // line separator
    case 0x2029:  // paragraph separator
      return true;
    default:
      return false;
  }
}

}  // namespace

QString TrimEnteredLine(const QString& line) {
  qsizetype begin = 0;
  qsizetype end = line.size();
  while (begin < end && line[begin].unicode() <= 32)
    ++begin;
  while (end > begin && line[end - 1].unicode() <= 32)
    --end;
  QString text = line.mid(begin, end - begin);
  if (text.startsWith(u'>'))
    text.remove(0, 1);
  return text;
}

std::optional<QByteArray> ToRequestText(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (const QChar ch : text) {
    const char16_t code = ch.unicode();
    if (code < 0x20 || code > 0x7E)
      return std::nullopt;
    bytes.append(static_cast<char>(code));
  }
  return bytes;
}

QString RefusedCommandMessage() {
  return QCoreApplication::translate(
      "calorix",
      "Команда содержит символы, которые нельзя передать термостату: допустимы только "
      "латинские буквы, цифры, пробел и знаки ASCII");
}

QString MultiLinePasteMessage() {
  return QCoreApplication::translate(
      "calorix",
      "Вставляемый текст содержит несколько строк: в консоль вводится одна команда за раз");
}

// ---------------------------------------------------------------------------

TConsoleEdit::TConsoleEdit(QWidget* parent) : QPlainTextEdit(parent) {}

void TConsoleEdit::keyPressEvent(QKeyEvent* e) {
  if (OnKeyDown && OnKeyDown(e)) {
    e->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(e);
}

void TConsoleEdit::insertFromMimeData(const QMimeData* source) {
  if (!source || !source->hasText())
    return;
  QString text = source->text();
  if (OnInsertText && !OnInsertText(text))
    return;
  QMimeData plain;
  plain.setText(text);
  QPlainTextEdit::insertFromMimeData(&plain);
}

// ---------------------------------------------------------------------------

TConsole::TConsole(QWidget* host, TTimer* promptTimer)
    : QObject(host),
      FEdit(new TConsoleEdit(host)),
      FPromptTimer(promptTimer ? promptTimer : new TTimer(this, kPromptTimeMs, true)) {
  Q_ASSERT(host);
  FEdit->setObjectName(QStringLiteral("edConsole"));
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(21);
  font.setBold(true);
  FEdit->setFont(font);
  FEdit->setToolTip(QCoreApplication::translate("calorix", "clr - очищает консоль"));
  FEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FEdit->setTabChangesFocus(true);
  FEdit->setMaximumBlockCount(kConsoleMaxLines);
  FEdit->OnKeyDown = [this](QKeyEvent* e) { return edConsoleKeyDown(e->key(), e->modifiers()); };
  FEdit->OnInsertText = [this](QString& text) { return AcceptInsertText(text); };
  if (!FPromptTimer->OnTimer) {
    FPromptTimer->OnTimer = [this] { PromptTimerTimer(); };
    FOwnTimerHandler = true;
  }
  EnableConsole(false);
}

// The control and a given timer may outlive this object inside the host:
// they must not call back into it.
TConsole::~TConsole() {
  if (FEdit) {
    FEdit->OnKeyDown = nullptr;
    FEdit->OnInsertText = nullptr;
  }
  if (FPromptTimer && FOwnTimerHandler)
    FPromptTimer->OnTimer = nullptr;
}

void TConsole::StartUp() {
  FEdit->clear();
  QPalette palette = FEdit->palette();
  palette.setColor(QPalette::Base, kBackground);
  FEdit->setPalette(palette);
  ShowPrompt();
}

void TConsole::EnableConsole(bool on) {
  FEdit->setReadOnly(!on);
  // Read-only still lets the caret move, so Enter and selections work as before.
  if (!on)
    FEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QPalette palette = FEdit->palette();
  palette.setColor(QPalette::Text, on ? kLiveText : kIdleText);
  FEdit->setPalette(palette);
}

void TConsole::FocusConsole() {
  FEdit->setFocus(Qt::OtherFocusReason);
}

int TConsole::LineCount() const {
  const QTextDocument* doc = FEdit->document();
  int count = doc->blockCount();
  if (doc->lastBlock().text().isEmpty())
    --count;
  return count;
}

QString TConsole::LineText(int index) const {
  if (index < 0)
    return {};
  const QTextBlock block = FEdit->document()->findBlockByNumber(index);
  return block.isValid() ? block.text() : QString();
}

bool TConsole::edConsoleKeyDown(int key, Qt::KeyboardModifiers shift) {
  // Leave Ctrl and Ctrl+C alone, so that a selection survives to be copied.
  if (key == Qt::Key_Control || (key == Qt::Key_C && (shift & Qt::ControlModifier)))
    return false;

  const QTextCursor caret = FEdit->textCursor();
  const int x = caret.positionInBlock();
  const int y = caret.blockNumber();
  // Only the input line is edited: anything typed above it goes to the end.
  if (y < LineCount() - 1)
    FEdit->moveCursor(QTextCursor::End);

  switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
      return x < 2;  // keeps the prompt
    case Qt::Key_Up:
      ReplaceHistoryLine(HistoryUp ? HistoryUp() : QString());
      return true;
    case Qt::Key_Down:
      ReplaceHistoryLine(HistoryDown ? HistoryDown() : QString());
      return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      return true;
    case Qt::Key_Home:
      SetCaret(1, y);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      RunEnteredLine();
      return true;  // the line break is made by RunEnteredLine
    default:
      return false;
  }
}

bool TConsole::RunEnteredLine() {
  const QString text = TrimEnteredLine(LineText(LineCount() - 1));
  QByteArray request;
  if (text == u"clr") {
    FEdit->clear();
  } else {
    const std::optional<QByteArray> converted = ToRequestText(text);
    if (!converted) {
      // The line stays as typed so it can be corrected; no prompt follows.
      if (ShowError)
        ShowError(RefusedCommandMessage());
      return false;
    }
    request = *converted;
    if (!request.isEmpty()) {
      if (HistoryAdd)
        HistoryAdd(text);
      ConsoleAppend(QStringLiteral("\r"));
    }
  }
  FPromptTimer->SetEnabled(true);  // a running timer keeps its time
  // The Enter key's own line break, made here at the end of the text so that
  // it comes in the read-only state too and never splits the line.
  ConsoleAppend(QStringLiteral("\r"));
  // Sent last, so that even an answer handled at once finds the finished layout.
  if (!request.isEmpty() && SendLine)
    SendLine(request + '\n');
  return true;
}

void TConsole::ShowConsoleAnswer(const QString& answer) {
  if (!FPromptTimer->Enabled()) {
    // The prompt is already shown (a second line was sent before the first
    // answer came): the answer gets a line of its own above the input line.
    QTextCursor at(FEdit->document()->lastBlock());
    at.insertText(answer + u'\n');
    FEdit->ensureCursorVisible();
    return;
  }
  FPromptTimer->SetEnabled(false);
  const QString typed = TakeTypedAhead();
  const int last = LineCount() - 1;
  ReplaceLine(last, LineText(last) + answer);
  ShowPrompt();
  if (!typed.isEmpty())
    ConsoleAppend(typed);
}

void TConsole::PromptTimerTimer() {
  FPromptTimer->SetEnabled(false);
  if (ClearRequests)
    ClearRequests();
  const QString typed = TakeTypedAhead();
  ShowPrompt();
  if (!typed.isEmpty())
    ConsoleAppend(typed);
}

void TConsole::ConsoleAppend(const QString& text) {
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  plain.replace(u'\r', u'\n');
  QTextCursor end(FEdit->document());
  end.movePosition(QTextCursor::End);
  end.insertText(plain);
  FEdit->setTextCursor(end);
  FEdit->ensureCursorVisible();
}

void TConsole::ReplaceLine(int index, const QString& text) {
  QTextDocument* doc = FEdit->document();
  QTextBlock block = doc->findBlockByNumber(qMax(0, index));
  if (!block.isValid())
    block = doc->lastBlock();
  QTextCursor line(block);
  line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  if (text.isEmpty())
    line.removeSelectedText();
  else
    line.insertText(text);
  FEdit->setTextCursor(line);
  FEdit->ensureCursorVisible();
}

void TConsole::SetCaret(int column, int line) {
  QTextDocument* doc = FEdit->document();
  QTextBlock block = doc->findBlockByNumber(line);
  if (!block.isValid())
    block = doc->lastBlock();
  QTextCursor caret(block);
  caret.setPosition(block.position() + qMin(column, block.length() - 1));
  FEdit->setTextCursor(caret);
}

void TConsole::ReplaceHistoryLine(const QString& entry) {
  if (!entry.isEmpty())
    ReplaceLine(LineCount() - 1, u'>' + entry);
}

// Text typed on the new input line while the answer was awaited: taken off
// so that the answer and the prompt come first and the text follows the prompt.
QString TConsole::TakeTypedAhead() {
  const QTextDocument* doc = FEdit->document();
  const QTextBlock last = doc->lastBlock();
  if (doc->blockCount() < 2 || last.text().isEmpty())
    return {};
  const QString typed = last.text();
  QTextCursor line(last);
  line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  line.removeSelectedText();
  return typed;
}

bool TConsole::AcceptInsertText(QString& text) {
  // Like typing, a paste above the input line goes to the end of the text.
  const QTextCursor caret = FEdit->textCursor();
  if (caret.blockNumber() < LineCount() - 1)
    FEdit->moveCursor(QTextCursor::End);
  // A copied line often carries its line end; that alone is no second line.
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsLineBreak(text[begin]))
    ++begin;
  while (end > begin && IsLineBreak(text[end - 1]))
    --end;
  text = text.mid(begin, end - begin);
  for (const QChar ch : text) {
    if (IsLineBreak(ch)) {
      // Lines above the input line would look sent but never be: refuse.
      if (ShowError)
        ShowError(MultiLinePasteMessage());
      return false;
    }
  }
  return true;
}

}  // namespace calorix
