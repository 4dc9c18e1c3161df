#include "base/IniFile.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ostream>
#include <random>

#include "tests/support/PermissionsApply.h"

// Readable QString and QByteArray values in failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
static void PrintTo(const QByteArray& b, std::ostream* os) {
  *os << '"';
  for (char c : b) {
    if (c == '\r') {
      *os << "\\r";
    } else if (c == '\n') {
      *os << "\\n";
    } else if (c >= ' ' && c < 127) {
      *os << c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
      *os << hex;
    }
  }
  *os << '"';
}

namespace calorix {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  QString Path(const QString& name = QStringLiteral("Calorix.ini")) const {
    return FDir.filePath(name);
  }
  void Put(const QByteArray& bytes, const QString& name = QStringLiteral("Calorix.ini")) {
    QFile f(Path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  QByteArray Get(const QString& name = QStringLiteral("Calorix.ini")) const {
    QFile f(Path(name));
    if (!f.open(QIODevice::ReadOnly))
      return {};
    return f.readAll();
  }
  QStringList Entries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden); }

  QTemporaryDir FDir;
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsNotCreatedByReading) {
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 1000), 1000);
  EXPECT_EQ(ini.ReadString("usb", "pname", "thermostat|(usb.{0,}adapter)"),
            "thermostat|(usb.{0,}adapter)");
  EXPECT_FALSE(ini.ReadBool("MainFrm", "maximized", false));
  EXPECT_TRUE(ini.ReadBool("MainFrm", "maximized", true));
  EXPECT_FALSE(QFileInfo::exists(Path()));
}

struct TIntegerCase {
  const char* Text;
  int Expected;
};

class IniIntegerTest : public IniFileTest, public ::testing::WithParamInterface<TIntegerCase> {};

TEST_P(IniIntegerTest, ReadsWholeTextOrDefault) {
  Put(QByteArray("[Chart]\r\nPollTime=") + GetParam().Text + "\r\n");
  EXPECT_EQ(TIniFile(Path()).ReadInteger("Chart", "PollTime", 1000), GetParam().Expected)
      << "value text: '" << GetParam().Text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Values, IniIntegerTest,
    ::testing::Values(
        TIntegerCase{"2000", 2000}, TIntegerCase{"0x7D0", 2000}, TIntegerCase{"0X7d0", 2000},
        TIntegerCase{"$7D0", 2000}, TIntegerCase{"-5", -5}, TIntegerCase{"+7", 7},
        TIntegerCase{"-0x10", -16}, TIntegerCase{"  42  ", 42}, TIntegerCase{"\"2500\"", 2500},
        TIntegerCase{"2147483647", 2147483647}, TIntegerCase{"-2147483648", -2147483647 - 1},
        TIntegerCase{"2147483648", 1000}, TIntegerCase{"-2147483649", 1000},
        TIntegerCase{"0x80000000", 1000}, TIntegerCase{"99999999999999999999999999", 1000},
        TIntegerCase{"fast", 1000}, TIntegerCase{"", 1000}, TIntegerCase{"12abc", 1000},
        TIntegerCase{"1.5", 1000}, TIntegerCase{"1 000", 1000}, TIntegerCase{"0x", 1000},
        TIntegerCase{"$", 1000}, TIntegerCase{"-", 1000}, TIntegerCase{"0xG1", 1000},
        TIntegerCase{"\xd9\xa3", 1000} /* an Arabic-Indic digit */));

TEST_F(IniFileTest, BooleanIsAnIntegerThatIsNotZero) {
  Put("[MainFrm]\nyes1=1\nno=0\ntwo=2\nneg=-1\nword=true\nempty=\n");
  TIniFile ini(Path());
  EXPECT_TRUE(ini.ReadBool("MainFrm", "yes1", false));
  EXPECT_FALSE(ini.ReadBool("MainFrm", "no", true));
  EXPECT_TRUE(ini.ReadBool("MainFrm", "two", false));
  EXPECT_TRUE(ini.ReadBool("MainFrm", "neg", false));
  EXPECT_FALSE(ini.ReadBool("MainFrm", "word", false));
  EXPECT_TRUE(ini.ReadBool("MainFrm", "word", true));
  EXPECT_FALSE(ini.ReadBool("MainFrm", "empty", false));
}

TEST_F(IniFileTest, NamesAreFoundInAnyLetterCaseAndBlanksAreIgnored) {
  Put("  [ cHaRt ]  \r\n\tPOLLTIME  =  2000 \r\n[Usb]\r\nPName = Thermo|Adapter \r\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 0), 2000);
  EXPECT_EQ(ini.ReadString("usb", "pname", ""), "Thermo|Adapter");
  EXPECT_EQ(ini.ReadString("USB", "PNAME", ""), "Thermo|Adapter");
}

TEST_F(IniFileTest, ValueIsTheTextAfterTheFirstEqualsSign) {
  Put("[usb]\npname=a=b==c\nquoted=\"  spaced  \"\nsingle='x'\nhalf=\"x\ncomment;=1\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("usb", "pname", ""), "a=b==c");
  EXPECT_EQ(ini.ReadString("usb", "quoted", ""), "  spaced  ");
  EXPECT_EQ(ini.ReadString("usb", "single", ""), "x");
  EXPECT_EQ(ini.ReadString("usb", "half", ""), "\"x");
  EXPECT_EQ(ini.ReadString("usb", "comment;", ""), "1");
}

TEST_F(IniFileTest, FirstOfDuplicateKeysAndSectionsWins) {
  Put("[Chart]\nFrame=2\nFrame=3\n[Chart]\nFrame=4\nMaxY=50\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "Frame", 1), 2);
  EXPECT_EQ(ini.ReadInteger("Chart", "MaxY", 0), 50);  // found in the second block
  ASSERT_TRUE(ini.WriteInteger("Chart", "Frame", 0));
  EXPECT_EQ(Get(), "[Chart]\nFrame=0\nFrame=3\n[Chart]\nFrame=4\nMaxY=50\n");
}

TEST_F(IniFileTest, CommentsAndKeysOutsideSectionsAreNotValues) {
  Put("PollTime=5\n[Chart]\n;PollTime=7\n# x\nPollTime\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 1000), 1000);
  EXPECT_EQ(ini.ReadInteger("", "PollTime", 1000), 1000);
}

TEST_F(IniFileTest, LongStringIsCutTo2047Characters) {
  Put("[usb]\npname=" + QByteArray(5000, 'a') + "\n");
  EXPECT_EQ(TIniFile(Path()).ReadString("usb", "pname", "").size(), 2047);
}

TEST_F(IniFileTest, FirstWritesCreateFileWithCrLfAndSections) {
  TIniFile ini(Path());
  ASSERT_TRUE(ini.WriteBool("MainFrm", "maximized", false));
  ASSERT_TRUE(ini.WriteInteger("MainFrm", "width", 986));
  ASSERT_TRUE(ini.WriteInteger("Chart", "RAxis", 0));
  ASSERT_TRUE(ini.WriteInteger("Chart", "MaxY", -4));
  EXPECT_EQ(Get(),
            "[MainFrm]\r\nmaximized=0\r\nwidth=986\r\n\r\n[Chart]\r\nRAxis=0\r\nMaxY=-4\r\n");
  EXPECT_TRUE(ini.LastError().isEmpty());
  // Reads of the same object see its own writes.
  EXPECT_EQ(ini.ReadInteger("chart", "maxy", 0), -4);
  EXPECT_EQ(TIniFile(Path()).ReadInteger("MainFrm", "width", 0), 986);
  EXPECT_EQ(Entries(), QStringList{"Calorix.ini"});  // no temporary file left
}

TEST_F(IniFileTest, WriteChangesOneKeyAndKeepsEveryOtherByte) {
  const QByteArray before =
      "; settings of the lab PC\n"
      "[MainFrm]\n"
      "width=800\n"
      "  Height = 600   \n"
      "garbage line without equals\n"
      "\n"
      "[Chart]\n"
      "PollTime = 1500\n"
      "Frame=2\n"
      "[usb]\n"
      "pname=thermo\n";
  Put(before);
  TIniFile ini(Path());
  ASSERT_TRUE(ini.WriteInteger("chart", "POLLTIME", 2000));
  QByteArray expected = before;
  expected.replace("PollTime = 1500", "PollTime = 2000");
  EXPECT_EQ(Get(), expected);

  ASSERT_TRUE(ini.WriteInteger("MainFrm", "height", 480));
  expected.replace("  Height = 600   ", "  Height = 480");
  EXPECT_EQ(Get(), expected);
}

TEST_F(IniFileTest, NewKeyGoesToTheEndOfItsSectionBeforeBlankLines) {
  Put("[MainFrm]\r\nwidth=800\r\n\r\n\r\n[Chart]\r\nFrame=1\r\n");
  TIniFile ini(Path());
  ASSERT_TRUE(ini.WriteBool("mainfrm", "maximized", true));
  ASSERT_TRUE(ini.WriteInteger("Chart", "MaxY", 2000));
  EXPECT_EQ(Get(),
            "[MainFrm]\r\nwidth=800\r\nmaximized=1\r\n\r\n\r\n[Chart]\r\nFrame=1\r\nMaxY=2000\r\n");
}

TEST_F(IniFileTest, LineEndsOfTheFileAreKept) {
  struct TCase {
    QByteArray Before, After;
  };
  const TCase cases[] = {
      {"[Chart]\nFrame=1\n", "[Chart]\nFrame=1\nRAxis=3\n"},
      {"[Chart]\r\nFrame=1\r\n", "[Chart]\r\nFrame=1\r\nRAxis=3\r\n"},
      {"[Chart]\rFrame=1\r", "[Chart]\rFrame=1\rRAxis=3\r"},
      // The last line had no line end: it gets one before the new key.
      {"[Chart]\nFrame=1", "[Chart]\nFrame=1\nRAxis=3\n"},
      {"[Chart]", "[Chart]\r\nRAxis=3\r\n"},
      {"[MainFrm]\nwidth=1", "[MainFrm]\nwidth=1\n\n[Chart]\nRAxis=3\n"},
      {"", "[Chart]\r\nRAxis=3\r\n"},
  };
  for (const TCase& c : cases) {
    Put(c.Before);
    TIniFile ini(Path());
    ASSERT_TRUE(ini.WriteInteger("Chart", "RAxis", 3));
    EXPECT_EQ(Get(), c.After) << "before: " << c.Before.toStdString();
  }
}

TEST_F(IniFileTest, ByteOrderMarkIsReadAndKept) {
  Put("\xEF\xBB\xBF[usb]\npname=\xD1\x82\xD0\xB5\xD1\x80\xD0\xBC\xD0\xBE\n");  // "термо"
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("usb", "pname", ""), QStringLiteral("термо"));
  ASSERT_TRUE(ini.WriteString("usb", "pname", QStringLiteral("ТЕРМО")));
  EXPECT_EQ(Get(),
            QByteArray("\xEF\xBB\xBF[usb]\npname=") + QStringLiteral("ТЕРМО").toUtf8() + "\n");
  EXPECT_EQ(TIniFile(Path()).ReadString("USB", "PNAME", ""), QStringLiteral("ТЕРМО"));
}

TEST_F(IniFileTest, WriteStartsFromTheFileAsItIsOnDisk) {
  TIniFile first(Path());
  TIniFile second(Path());
  ASSERT_TRUE(first.WriteInteger("Chart", "Frame", 2));
  ASSERT_TRUE(second.WriteInteger("Chart", "MaxY", 100));
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "Frame", 0), 2);
  EXPECT_EQ(ini.ReadInteger("Chart", "MaxY", 0), 100);
}

TEST_F(IniFileTest, TextThatWouldBreakTheFileIsRefused) {
  Put("[usb]\npname=a\n");
  TIniFile ini(Path());
  EXPECT_FALSE(ini.WriteString("usb", "pname", "x\r\n[Chart]\r\nPollTime=1"));
  EXPECT_FALSE(ini.LastError().isEmpty());
  EXPECT_FALSE(ini.WriteString("usb", "p=name", "x"));
  EXPECT_FALSE(ini.WriteString("usb", "", "x"));
  EXPECT_FALSE(ini.WriteString("us]b", "pname", "x"));
  EXPECT_FALSE(ini.WriteString("", "pname", "x"));
  EXPECT_FALSE(ini.WriteString(" usb", "pname", "x"));
  EXPECT_FALSE(ini.WriteString("usb", "pname ", "x"));
  // Control characters at the ends would be cut off on reading, like blanks.
  EXPECT_FALSE(ini.WriteString("usb\x02", "pname", "x"));
  EXPECT_FALSE(ini.WriteString("usb", "\x01pname", "x"));
  EXPECT_FALSE(ini.WriteString("usb", "pname\x1f", "x"));
  EXPECT_EQ(Get(), "[usb]\npname=a\n");
  EXPECT_TRUE(ini.WriteString("usb", "pname", "b"));
  EXPECT_TRUE(ini.LastError().isEmpty());
}

TEST_F(IniFileTest, WriteIntoMissingFolderFailsWithReason) {
  TIniFile ini(Path("no such folder/Calorix.ini"));
  EXPECT_FALSE(ini.WriteBool("MainFrm", "maximized", false));
  EXPECT_FALSE(ini.LastError().isEmpty());
  EXPECT_TRUE(ini.LastError().contains("Calorix.ini")) << ini.LastError().toStdString();

  Put("not a folder", "plain");
  TIniFile below(Path("plain/Calorix.ini"));
  EXPECT_FALSE(below.WriteInteger("Chart", "Frame", 1));
  EXPECT_FALSE(below.LastError().isEmpty());
}

TEST_F(IniFileTest, WriteIntoReadOnlyFolderFailsAndKeepsTheFile) {
  const test::TPermissionsApply permissions;
  ASSERT_TRUE(permissions.Ok());
  Put("[Chart]\nPollTime=1500\n");
  QFile::Permissions rx = QFile::ReadOwner | QFile::ExeOwner;
  ASSERT_TRUE(QFile::setPermissions(FDir.path(), rx));
  TIniFile ini(Path());
  EXPECT_FALSE(ini.WriteInteger("Chart", "PollTime", 2000));
  EXPECT_FALSE(ini.LastError().isEmpty());
  EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 0), 1500);
  QFile::setPermissions(FDir.path(), rx | QFile::WriteOwner);
  EXPECT_EQ(Get(), "[Chart]\nPollTime=1500\n");
  EXPECT_EQ(Entries(), QStringList{"Calorix.ini"});
}

TEST_F(IniFileTest, UnreadableFileIsNeverReplaced) {
  const test::TPermissionsApply permissions;
  ASSERT_TRUE(permissions.Ok());
  Put("[Chart]\nPollTime=1500\n");
  ASSERT_TRUE(QFile::setPermissions(Path(), QFile::WriteOwner));
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 1000), 1000);
  EXPECT_FALSE(ini.WriteInteger("Chart", "Frame", 1));
  ASSERT_TRUE(QFile::setPermissions(Path(), QFile::ReadOwner | QFile::WriteOwner));
  EXPECT_EQ(Get(), "[Chart]\nPollTime=1500\n");
}

TEST_F(IniFileTest, GarbageFilesReadDefaultsAndKeepTheirBytes) {
  std::mt19937 random(12345);
  QByteArray binary;
  for (int k = 0; k < 20000; ++k)
    binary += char(random() & 0xFF);
  const QByteArray cases[] = {
      binary,
      QByteArray(3'000'000, 'x'),                      // one huge line
      QByteArray("[Chart") + QByteArray(100000, '['),  // unclosed section
      QByteArray("\0\0[Chart]\0\nFrame\0=\0\n", 20),   // NUL bytes
      QByteArray("=\n==\n[]\n=5\n[\n]\n\xFF\xFE\n"),   // empty names, stray bytes
      QByteArray("\xC3\x28[Chart]\n\xE2\x82"
                 "Frame=\xF0\x9F\n"),  // broken UTF-8
  };
  for (const QByteArray& garbage : cases) {
    Put(garbage);
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Chart", "PollTime", 1000), 1000);
    EXPECT_EQ(ini.ReadString("usb", "pname", "p"), "p");
    ASSERT_TRUE(ini.WriteInteger("Chart", "PollTime", 2000)) << ini.LastError().toStdString();
    EXPECT_EQ(TIniFile(Path()).ReadInteger("Chart", "PollTime", 0), 2000);
    EXPECT_TRUE(Get().startsWith(garbage));
  }
}

}  // namespace
}  // namespace calorix
