#include "console/Console.h"

#include "base/Helper.h"
#include "base/Timer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTextBlock>
#include <QWidget>

#include <vector>

namespace calorix {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    TTimer::SetManualMode(true);
    Console = new TConsole(&Host);
    Edit = Console->edConsole();
    Console->SendLine = [this](const QByteArray& line) { Sent.push_back(line); };
    Console->ClearRequests = [this] { ++Clears; };
    Console->ShowError = [this](const QString& text) { Errors << text; };
    Console->HistoryAdd = [this](const QString& line) { History.Add(line); };
    Console->HistoryUp = [this] { return History.Up(); };
    Console->HistoryDown = [this] { return History.Down(); };
    Console->StartUp();
    Console->EnableConsole(true);
  }

  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(Edit, &press);
  }
  void Type(const QString& text) {
    for (const QChar ch : text)
      Key(ch.toUpper().unicode(), Qt::NoModifier, QString(ch));
  }
  void Enter() { Key(Qt::Key_Return); }
  void Send(const QString& text) {
    Type(text);
    Enter();
    Console->ShowConsoleAnswer(QStringLiteral("0"));
  }
  QString Text() const { return Edit->toPlainText(); }
  QString LineTextOfLast() const { return Console->LineText(Console->LineCount() - 1); }
  int Column() const { return Edit->textCursor().positionInBlock(); }
  int Line() const { return Edit->textCursor().blockNumber(); }
  void CaretTo(int line, int column) {
    QTextCursor c(Edit->document()->findBlockByNumber(line));
    c.setPosition(c.position() + column);
    Edit->setTextCursor(c);
  }

  QWidget Host;
  TConsole* Console;
  TConsoleEdit* Edit;
  std::vector<QByteArray> Sent;
  QStringList Errors;
  int Clears = 0;
  TCommandHistory History;  // the window's own
};

TEST_F(ConsoleTest, StartsWithPromptAndItsLook) {
  EXPECT_EQ(Text(), ">");
  EXPECT_EQ(Edit->objectName(), "edConsole");
  EXPECT_EQ(Edit->palette().color(QPalette::Base), QColor(0x28, 0x28, 0x28));
  EXPECT_EQ(Edit->font().pixelSize(), 21);
  EXPECT_TRUE(Edit->font().bold());
  EXPECT_EQ(Edit->toolTip(), QString::fromUtf8("clr - очищает консоль"));
  EXPECT_TRUE(Edit->tabChangesFocus());
  EXPECT_FALSE(Console->PromptTimer()->Enabled());
  EXPECT_EQ(Console->PromptTimer()->Interval(), 250);
}

TEST_F(ConsoleTest, TabMovesTheFocusOn) {
  QWidget* next = new QWidget(&Host);
  next->setFocusPolicy(Qt::StrongFocus);
  Host.show();
  Host.activateWindow();
  QApplication::setActiveWindow(&Host);
  Console->FocusConsole();
  ASSERT_TRUE(Edit->hasFocus());
  Key(Qt::Key_Tab);
  EXPECT_TRUE(next->hasFocus());
  EXPECT_EQ(Text(), ">");
}

TEST_F(ConsoleTest, EnableSwitchesReadOnlyAndColour) {
  Console->EnableConsole(false);
  EXPECT_TRUE(Edit->isReadOnly());
  EXPECT_EQ(Edit->palette().color(QPalette::Text), QColor(0x80, 0x80, 0x80));
  Type("ab");
  EXPECT_EQ(Text(), ">");
  Console->EnableConsole(true);
  EXPECT_FALSE(Edit->isReadOnly());
  EXPECT_EQ(Edit->palette().color(QPalette::Text), QColor(0x00, 0xFF, 0x00));
}

TEST_F(ConsoleTest, SentLineThenAnswerThenPrompt) {
  Type(":00000000 dat.t rd");
  Enter();
  ASSERT_EQ(Sent.size(), 1u);
  EXPECT_EQ(Sent[0], QByteArray(":00000000 dat.t rd\n"));
  EXPECT_EQ(History.Items(), QStringList{":00000000 dat.t rd"});
  EXPECT_TRUE(Console->PromptTimer()->Enabled());
  Console->ShowConsoleAnswer("0 25.00");
  EXPECT_EQ(Text(), ">:00000000 dat.t rd\n0 25.00\n>");
  EXPECT_FALSE(Console->PromptTimer()->Enabled());
  EXPECT_EQ(Edit->textCursor().position(), Text().size());
  EXPECT_EQ(Clears, 0);
}

TEST_F(ConsoleTest, NoAnswerLeavesEmptyLineAndClearsQueue) {
  Type("abc");
  Enter();
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), ">abc\n\n>");
  EXPECT_EQ(Clears, 1);
  EXPECT_FALSE(Console->PromptTimer()->Enabled());
}

TEST_F(ConsoleTest, EnterOnEmptyPromptGivesPromptBelowLater) {
  Type("   ");
  CaretTo(0, 1);  // the key's line break still goes at the end of the line
  Enter();
  EXPECT_EQ(Text(), ">   \n");
  EXPECT_TRUE(Sent.empty());
  EXPECT_TRUE(History.Items().isEmpty());
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), ">   \n>");
}

TEST_F(ConsoleTest, ClrClearsAndPromptFollowsOnNextLine) {
  Send("abc");
  Type("clr");
  Enter();
  EXPECT_EQ(Text(), "\n");
  ASSERT_EQ(Sent.size(), 1u);
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), "\n>");
}

TEST_F(ConsoleTest, WhatIsSentAfterTrimming) {
  struct TCase {
    const char* Typed;
    const char* Sent;  // nullptr: cleared
  };
  const TCase cases[] = {
      {" clr", " clr\n"},      // blanks after the prompt are part of the command
      {"CLR", "CLR\n"},        // letter case matters
      {"clr  ", nullptr},      // trailing blanks are trimmed
      {"  abc  ", "  abc\n"},  // only the end is trimmed, after the prompt
      {">x", ">x\n"},          // only one prompt is removed
  };
  for (const TCase& c : cases) {
    Sent.clear();
    Type(c.Typed);
    Enter();
    if (c.Sent) {
      ASSERT_EQ(Sent.size(), 1u) << c.Typed;
      EXPECT_EQ(Sent[0], QByteArray(c.Sent)) << c.Typed;
    } else {
      EXPECT_TRUE(Sent.empty()) << c.Typed;
      EXPECT_EQ(Text(), "\n") << c.Typed;
    }
    Console->PromptTimer()->Fire();
  }
}

TEST_F(ConsoleTest, BackspaceLeftHomeKeepThePrompt) {
  Type("abc");
  Key(Qt::Key_Home);
  EXPECT_EQ(Column(), 1);
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Left);
  EXPECT_EQ(Text(), ">abc");
  EXPECT_EQ(Column(), 1);
  CaretTo(0, 2);
  Key(Qt::Key_Left);
  EXPECT_EQ(Column(), 1);
  CaretTo(0, 2);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Text(), ">bc");
}

TEST_F(ConsoleTest, KeysAboveTheInputLine) {
  Send("abc");
  CaretTo(0, 2);
  Type("x");
  EXPECT_EQ(Text(), ">abc\n0\n>x");
  CaretTo(0, 3);
  Key(Qt::Key_Home);  // the line read before the move counts
  EXPECT_EQ(Line(), 0);
  EXPECT_EQ(Column(), 1);
  CaretTo(1, 0);
  Enter();  // runs the input line, not the line of the caret
  ASSERT_EQ(Sent.size(), 2u);
  EXPECT_EQ(Sent[1], QByteArray("x\n"));
}

TEST_F(ConsoleTest, HistoryThroughUpAndDown) {
  Type("ab");
  Key(Qt::Key_Up);  // empty history: the line stays
  EXPECT_EQ(Text(), ">ab");
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Backspace);
  for (int i = 1; i <= 11; ++i)
    Send(QString("l%1").arg(i));
  QStringList seen;
  for (int i = 0; i < 10; ++i) {
    Key(Qt::Key_Up);
    seen << LineTextOfLast();
    EXPECT_EQ(Edit->textCursor().position(), Text().size());
  }
  EXPECT_EQ(seen.first(), ">l11");
  EXPECT_EQ(seen.last(), ">l2");
  EXPECT_FALSE(seen.contains(">l1"));
  Key(Qt::Key_Up);
  EXPECT_EQ(LineTextOfLast(), ">l11");  // wrapped round
  Key(Qt::Key_Down);
  EXPECT_EQ(LineTextOfLast(), ">l10");
}

TEST_F(ConsoleTest, PageKeysDoNothing) {
  Send("abc");
  const QString before = Text();
  CaretTo(2, 1);
  Key(Qt::Key_PageUp);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Text(), before);
  EXPECT_EQ(Line(), 2);
  EXPECT_EQ(Column(), 1);
}

TEST_F(ConsoleTest, CtrlAndCtrlCKeepTheSelection) {
  Send("abc");
  QTextCursor sel(Edit->document());
  sel.setPosition(1);
  sel.setPosition(4, QTextCursor::KeepAnchor);
  Edit->setTextCursor(sel);
  Key(Qt::Key_Control, Qt::ControlModifier);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Edit->textCursor().selectedText(), "abc");
  EXPECT_EQ(QApplication::clipboard()->text(), "abc");
}

TEST_F(ConsoleTest, SecondEnterBeforeTheAnswer) {
  Type("abc");
  Enter();
  Enter();
  EXPECT_EQ(Sent.size(), 1u);
  EXPECT_TRUE(Console->PromptTimer()->Enabled());
  Console->ShowConsoleAnswer("0 1");
  EXPECT_EQ(Text(), ">abc\n\n0 1\n>");
}

TEST_F(ConsoleTest, SecondLineAnsweredAfterThePromptGetsItsOwnLine) {
  Type("a");
  Enter();
  Type("b");
  Enter();
  Console->ShowConsoleAnswer("0 A");
  Type("c");
  Console->ShowConsoleAnswer("0 B");
  EXPECT_EQ(Text(), ">a\n\nb\n0 A\n0 B\n>c");
  EXPECT_EQ(Edit->textCursor().position(), Text().size());
}

TEST_F(ConsoleTest, TypingWhileWaitingFollowsThePrompt) {
  Type("abc");
  Enter();
  Type("xy");
  Console->ShowConsoleAnswer("0 5");
  EXPECT_EQ(Text(), ">abc\n0 5\n>xy");
  Enter();
  ASSERT_EQ(Sent.size(), 2u);
  EXPECT_EQ(Sent[1], QByteArray("xy\n"));
  Type("z");
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), ">abc\n0 5\n>xy\n\n>z");
}

TEST_F(ConsoleTest, ReadOnlyEnterStillRunsTheLine) {
  Type("abc");
  Console->EnableConsole(false);
  Enter();
  EXPECT_EQ(History.Items(), QStringList{"abc"});
  EXPECT_EQ(Sent.size(), 1u);  // the queue drops it without a thermostat
  EXPECT_EQ(Text(), ">abc\n\n");
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), ">abc\n\n>");
  Enter();
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Text(), ">abc\n\n>\n>");
}

TEST_F(ConsoleTest, RefusedCharactersAreNotSent) {
  const QString lines[] = {QString::fromUtf8("привет"), "a\tb", QString("a") + QChar(0x7F),
                           QString::fromUtf8("t\u00e9st"), QString("a") + QChar(0x2028) + "b"};
  for (const QString& line : lines) {
    Errors.clear();
    Edit->setPlainText(u'>' + line);
    Edit->moveCursor(QTextCursor::End);
    const QString before = Text();
    Enter();
    EXPECT_EQ(Errors, QStringList{RefusedCommandMessage()});
    EXPECT_TRUE(Sent.empty());
    EXPECT_TRUE(History.Items().isEmpty());
    EXPECT_EQ(Text(), before);
    EXPECT_FALSE(Console->PromptTimer()->Enabled());
  }
}

TEST_F(ConsoleTest, PasteIsOneLineAtTheInputLine) {
  Send("abc");
  CaretTo(0, 1);
  QApplication::clipboard()->setText(":00000000 dat.t rd\r\n");
  Edit->paste();
  EXPECT_EQ(Text(), ">abc\n0\n>:00000000 dat.t rd");
  EXPECT_TRUE(Errors.isEmpty());
  QApplication::clipboard()->setText("a\nb");
  Edit->paste();
  EXPECT_EQ(Errors, QStringList{MultiLinePasteMessage()});
  EXPECT_EQ(Text(), ">abc\n0\n>:00000000 dat.t rd");
}

TEST_F(ConsoleTest, TextIsBoundedAndThePromptStillWorks) {
  for (int i = 0; i < kConsoleMaxLines + 100; ++i)
    Console->ConsoleAppend(QString("x%1\r").arg(i));
  Console->ShowPrompt();
  EXPECT_EQ(Edit->document()->blockCount(), kConsoleMaxLines);
  Send("abc");
  Enter();
  Console->PromptTimer()->Fire();
  EXPECT_EQ(Edit->document()->blockCount(), kConsoleMaxLines);
  EXPECT_TRUE(Text().endsWith(">abc\n0\n>\n>"));
  Type("clr");
  Enter();
  for (int i = 0; i < kConsoleMaxLines + 10; ++i)
    Console->ConsoleAppend("\r");
  EXPECT_EQ(Edit->document()->blockCount(), kConsoleMaxLines);
}

TEST(ConsoleLine, LineCountIgnoresAnEmptyLastLine) {
  QWidget host;
  TConsole console(&host);
  struct TCase {
    const char* Text;
    int Count;
  };
  for (const TCase& c : {TCase{"", 0}, TCase{"\n", 1}, TCase{">a", 1}, TCase{">a\n", 1},
                         TCase{">a\n\n", 2}, TCase{">a\nb\n>", 3}}) {
    console.edConsole()->setPlainText(c.Text);
    EXPECT_EQ(console.LineCount(), c.Count) << c.Text;
  }
}

TEST(ConsoleTimer, GivenTimerGetsThePromptAndOutlivesTheConsole) {
  TTimer::SetManualMode(true);
  QWidget host;
  TTimer timer(nullptr, 250, true);
  {
    TConsole console(&host, &timer);
    console.StartUp();
    EXPECT_TRUE(console.edConsoleKeyDown(Qt::Key_Return, Qt::NoModifier));
    EXPECT_TRUE(timer.Enabled());
    timer.Fire();
    EXPECT_EQ(console.edConsole()->toPlainText(), ">\n>");
    console.edConsoleKeyDown(Qt::Key_Return, Qt::NoModifier);
  }
  timer.Fire();  // the console is gone: nothing happens
  EXPECT_FALSE(timer.Enabled());
}

TEST(ConsoleLine, TrimAndRequestText) {
  EXPECT_EQ(TrimEnteredLine(QString("\t> a b \r")), " a b");
  EXPECT_EQ(TrimEnteredLine(">>a"), ">a");
  EXPECT_EQ(TrimEnteredLine(" \x01 "), "");
  EXPECT_EQ(ToRequestText(" ~az09:.").value(), QByteArray(" ~az09:."));
  EXPECT_EQ(ToRequestText("").value(), QByteArray());
  EXPECT_FALSE(ToRequestText("a\nb"));
  EXPECT_FALSE(ToRequestText(QString::fromUtf8("°C")));
}

}  // namespace
}  // namespace calorix
