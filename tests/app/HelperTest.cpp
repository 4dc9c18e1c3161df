#include "app/Placement.h"
#include "base/Helper.h"
#include "base/IniFile.h"

#include <gtest/gtest.h>
#include <algorithm>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <ostream>
#include <vector>

// Readable QString and QByteArray values in failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
static void PrintTo(const QByteArray& b, std::ostream* os) {
  *os << '"' << QByteArray(b).replace("\r", "\\r").replace("\n", "\\n").toStdString() << '"';
}

namespace calorix {
namespace {

TEST(IniFileNameTest, IsCalorixIniBesideTheExecutable) {
  EXPECT_EQ(IniFileName(), QCoreApplication::applicationDirPath() + "/Calorix.ini");
}

TEST(IniFileNameTest, InstalledProgramKeepsItInTheUsersConfigurationFolder) {
  QTemporaryDir dir;
  const QString config = dir.filePath("config/Calorix");
  // Even where the folder can be written (root can write /usr/bin).
  EXPECT_EQ(IniFileNameFor("/usr/bin", config), config + "/Calorix.ini");
  EXPECT_EQ(IniFileNameFor("/usr/local/bin/", config), config + "/Calorix.ini");
  EXPECT_TRUE(QFileInfo(config).isDir());
  EXPECT_EQ(IniFileNameFor(dir.path(), config), dir.path() + "/Calorix.ini");
  EXPECT_EQ(IniFileNameFor(dir.filePath("missing"), config), config + "/Calorix.ini");
}

class PlacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FForm.setObjectName("MainFrm");
    FForm.resize(600, 400);
    FForm.move(40, 30);
  }
  QString Path() const { return FDir.filePath("Calorix.ini"); }
  void Put(const QByteArray& bytes) {
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray Get() const {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir FDir;
  QWidget FForm;
};

TEST_F(PlacementTest, SaveWritesMaximizedFirstThenSizeAndPosition) {
  ASSERT_TRUE(SaveFormPlacement(FForm, Path()));
  EXPECT_EQ(Get(), "[MainFrm]\r\nmaximized=0\r\nwidth=600\r\nheight=400\r\nleft=40\r\ntop=30\r\n");
}

TEST_F(PlacementTest, LoadRestoresWhatSaveWrote) {
  FForm.resize(500, 300);
  FForm.move(20, 15);
  ASSERT_TRUE(SaveFormPlacement(FForm, Path()));
  QWidget other;
  other.setObjectName("MainFrm");
  LoadFormPlacement(other, Path());
  EXPECT_EQ(other.size(), QSize(500, 300));
  EXPECT_EQ(other.pos(), QPoint(20, 15));
  EXPECT_FALSE(other.windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(PlacementTest, MissingOrBadKeysKeepTheCurrentValues) {
  Put("[mainfrm]\nLEFT=100\nheight=abc\n[Other]\nwidth=10\n");
  LoadFormPlacement(FForm, Path());
  EXPECT_EQ(FForm.size(), QSize(600, 400));
  EXPECT_EQ(FForm.pos(), QPoint(100, 30));

  QWidget unnamed;  // its section is another one
  unnamed.resize(320, 200);
  LoadFormPlacement(unnamed, Path());
  EXPECT_EQ(unnamed.size(), QSize(320, 200));
}

TEST_F(PlacementTest, MissingFileChangesNothing) {
  LoadFormPlacement(FForm, FDir.filePath("none.ini"));
  EXPECT_EQ(FForm.size(), QSize(600, 400));
  EXPECT_EQ(FForm.pos(), QPoint(40, 30));
  EXPECT_FALSE(QFile::exists(FDir.filePath("none.ini")));
}

TEST_F(PlacementTest, MaximizedSaveKeepsTheEarlierNormalPlacement) {
  Put("[MainFrm]\r\nmaximized=0\r\nwidth=700\r\nheight=500\r\nleft=10\r\ntop=20\r\n");
  FForm.setWindowState(Qt::WindowMaximized);
  ASSERT_TRUE(SaveFormPlacement(FForm, Path()));
  EXPECT_EQ(Get(), "[MainFrm]\r\nmaximized=1\r\nwidth=700\r\nheight=500\r\nleft=10\r\ntop=20\r\n");

  QWidget next;
  next.setObjectName("MainFrm");
  LoadFormPlacement(next, Path());
  EXPECT_EQ(next.size(), QSize(700, 500));
  EXPECT_EQ(next.pos(), QPoint(10, 20));
  EXPECT_TRUE(next.windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(PlacementTest, MinimizedFromMaximizedCountsAsMaximized) {
  FForm.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
  ASSERT_TRUE(SaveFormPlacement(FForm, Path()));
  EXPECT_EQ(Get(), "[MainFrm]\r\nmaximized=1\r\n");
}

TEST_F(PlacementTest, HugeStoredSizeIsCut) {
  Put("[MainFrm]\nwidth=2147483647\nheight=100000000\n");
  LoadFormPlacement(FForm, Path());
  const QSize desktop = QGuiApplication::primaryScreen()->virtualGeometry().size();
  EXPECT_LE(FForm.width(), std::max(desktop.width(), 16384));
  EXPECT_LE(FForm.height(), std::max(desktop.height(), 16384));
}

// Screens' available areas: a 1280 x 900 laptop with a task bar at the bottom,
// a 1920 x 1080 monitor to its right, and a small 800 x 600 one.
TEST(FitPlacementTest, BringsThePlacementOntoTheScreenItOverlapsMost) {
  const QRect laptop(0, 0, 1280, 860);
  const QRect monitor(1280, 0, 1920, 1080);
  const QList<QRect> two = {laptop, monitor};
  struct Case {
    const char* what;
    QList<QRect> screens;
    qsizetype primary;
    QRect frame, expected;
  };
  const std::vector<Case> cases = {
      {"fits: exactly as stored", two, 0, {100, 50, 970, 661}, {100, 50, 970, 661}},
      {"fills the available area exactly", two, 0, {0, 0, 1280, 860}, {0, 0, 1280, 860}},
      {"fits on the second screen", two, 0, {1500, 300, 970, 661}, {1500, 300, 970, 661}},
      {"layout position on the laptop: moved up",
       two,
       0,
       {240, 328, 970, 661},
       {240, 199, 970, 661}},
      {"across both, mostly the monitor", two, 0, {1000, 100, 970, 661}, {1280, 100, 970, 661}},
      {"across both, mostly the laptop", two, 0, {700, 100, 970, 661}, {310, 100, 970, 661}},
      {"off every screen: the primary", two, 1, {5000, 4000, 970, 661}, {2230, 419, 970, 661}},
      {"left of and above everything", two, 0, {-3000, -2000, 970, 661}, {0, 0, 970, 661}},
      {"larger than the screen: shrunk",
       {QRect(0, 0, 800, 600)},
       0,
       {240, 328, 970, 661},
       {0, 0, 800, 600}},
      {"one edge too large", two, 0, {1400, 200, 900, 2000}, {1400, 0, 900, 1080}},
      {"screen not at the origin",
       {QRect(-1024, 40, 1024, 728)},
       0,
       {-900, 500, 500, 400},
       {-900, 368, 500, 400}},
      {"no screens: unchanged", {}, 0, {-20, 15, 500, 300}, {-20, 15, 500, 300}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitPlacement(c.frame, c.screens, c.primary), c.expected) << c.what;
  }
}

TEST_F(PlacementTest, LoadBringsAStoredPlacementOnScreenAndSaveKeepsWhatItHad) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  Put(QStringLiteral("[MainFrm]\nleft=%1\ntop=%2\n")
          .arg(screen.right() + 500)
          .arg(screen.bottom() + 500)
          .toLatin1());
  LoadFormPlacement(FForm, Path());
  EXPECT_EQ(FForm.size(), QSize(600, 400));
  EXPECT_EQ(FForm.pos(), screen.bottomRight() - QPoint(600, 432) + QPoint(1, 1));
  ASSERT_TRUE(SaveFormPlacement(FForm, Path()));
  const TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("MainFrm", "left", 0), FForm.x());
  EXPECT_EQ(ini.ReadInteger("MainFrm", "top", 0), FForm.y());
}

TEST_F(PlacementTest, SaveReportsTheFirstFailedWrite) {
  QString error;
  EXPECT_FALSE(SaveFormPlacement(FForm, FDir.filePath("missing/Calorix.ini"), &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(SaveFormPlacement(FForm, FDir.filePath("missing/Calorix.ini")));
}

// The history: each step is 'U' (Up) or 'D' (Down) with the entry expected.
struct THistoryCase {
  const char* Name;
  std::vector<QString> Sent;
  std::vector<std::pair<char, QString>> Steps;
};

TEST(CommandHistoryTest, UpAndDownWalkTheEntries) {
  const std::vector<QString> abc = {"A", "B", "C"};
  const THistoryCase cases[] = {
      {"up four times", abc, {{'U', "C"}, {'U', "B"}, {'U', "A"}, {'U', "C"}}},
      {"down right after sending", abc, {{'D', "C"}, {'D', "A"}, {'D', "B"}}},
      {"up then down", abc, {{'U', "C"}, {'D', "B"}}},
      {"empty history", {}, {{'U', ""}, {'D', ""}, {'U', ""}}},
      {"one entry", {"x"}, {{'U', "x"}, {'D', "x"}, {'U', "x"}}},
      {"duplicates kept", {"x", "x"}, {{'U', "x"}, {'U', "x"}, {'D', "x"}}},
  };
  for (const THistoryCase& c : cases) {
    TCommandHistory history;
    for (const QString& line : c.Sent)
      history.Add(line);
    int step = 0;
    for (const auto& [key, expected] : c.Steps) {
      EXPECT_EQ(key == 'U' ? history.Up() : history.Down(), expected)
          << c.Name << ", step " << step;
      ++step;
    }
  }
}

TEST(CommandHistoryTest, AddPutsTheCursorBackOnTheNewest) {
  TCommandHistory history;
  history.Add("A");
  history.Add("B");
  history.Up();
  history.Up();  // cursor wrapped to B
  history.Add("C");
  EXPECT_EQ(history.Up(), "C");
  EXPECT_EQ(history.Up(), "B");
}

TEST(CommandHistoryTest, KeepsTheTenNewestLines) {
  TCommandHistory history;
  for (int k = 1; k <= 11; ++k)
    history.Add(QString::number(k));
  ASSERT_EQ(history.Items().size(), 10);
  EXPECT_EQ(history.Items().front(), "11");
  EXPECT_EQ(history.Items().back(), "2");
  QStringList seen;
  for (int k = 0; k < 10; ++k)
    seen << history.Up();
  EXPECT_FALSE(seen.contains("1"));
  EXPECT_EQ(history.Up(), "11");  // wrapped around
}

TEST(PollTimeTest, OnlyDigitsAndBackspaceAreTyped) {
  for (char c = '0'; c <= '9'; ++c)
    EXPECT_TRUE(PollTimeKeyAccepted(QChar(c))) << c;
  EXPECT_TRUE(PollTimeKeyAccepted(QChar(8)));
  for (QChar c : {QChar('a'), QChar(' '), QChar('-'), QChar('+'), QChar(','), QChar('.'),
                  QChar('\r'), QChar(27), QChar(3), QChar(22), QChar(24), QChar(127),
                  QChar(0x0663) /* Arabic-Indic three */, QChar(0xFF11) /* fullwidth one */}) {
    EXPECT_FALSE(PollTimeKeyAccepted(c)) << int(c.unicode());
  }
}

TEST(PollTimeTest, TextIsLimitedTo1000To60000) {
  const std::pair<const char*, int> cases[] = {
      {"500", 1000},
      {"1000", 1000},
      {"1500", 1500},
      {"60000", 60000},
      {"60001", 60000},
      {"120000", 60000},
      {"", 1000},
      {"abc", 1000},
      {"  42abc", 1000},
      {"  2500abc", 2500},
      {"\t+3000", 3000},
      {"-5", 1000},
      {"-99999999999", 1000},
      {"99999999999", 60000},
      {"4294968296", 60000},  // 2^32 + 1000 must not wrap to 1000
      {"00002000", 2000},
      {"2 000", 1000},
      {"- 5000", 1000},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(PollTimeFromText(text), expected) << "'" << text << "'";
  }
}

TEST(PollTimeTest, TimerPeriodIsAtLeast1000) {
  EXPECT_EQ(ClampPollTime(-5), 1000);
  EXPECT_EQ(ClampPollTime(0), 1000);
  EXPECT_EQ(ClampPollTime(999), 1000);
  EXPECT_EQ(ClampPollTime(1000), 1000);
  EXPECT_EQ(ClampPollTime(120000), 120000);
}

}  // namespace
}  // namespace calorix
