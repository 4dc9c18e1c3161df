// The program file: what is written reads back the same, and every kind of
// bad file is refused with a message that names the step and the field.
#include "program/ProgramFile.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace calorix {
namespace {

const char kExample[] = R"({"format": "calorix-program", "version": 1, "name": "Viscosity 20-60",
 "steps": [{"type": "set", "setpoint": 20},
           {"type": "wait", "band": 0.05, "seconds": 600, "limit": 3600},
           {"type": "ramp", "setpoint": 60, "rate": 0.5},
           {"type": "hold", "seconds": 1800, "band": 0.1},
           {"type": "repeat", "from": 2, "count": 1}],
 "end": {"setpoint": 25}})";

TEST(ProgramFile, RoundTripThroughTheDisk) {
  const TSetpointLimits limits;
  QString error;
  const auto p = ParseProgram(kExample, &limits, &error);
  ASSERT_TRUE(p) << error.toStdString();
  EXPECT_EQ(p->Name, "Viscosity 20-60");
  ASSERT_EQ(p->Steps.size(), 5u);
  EXPECT_EQ(p->Steps[1].Limit, 3600.0);
  EXPECT_EQ(p->Steps[4].From, 2);
  EXPECT_EQ(p->End, 25.0);
  QTemporaryDir dir;
  const QString path = dir.filePath("p.json");
  ASSERT_TRUE(SaveProgramFile(path, *p, &error));
  const auto back = LoadProgramFile(path, &limits, &error);
  ASSERT_TRUE(back) << error.toStdString();
  EXPECT_EQ(*back, *p);
  // 600 s wait, 80 min ramp 20->60, 30 min hold, then the loop once more:
  // wait 600, ramp 60->60 (nothing), hold 1800.
  EXPECT_DOUBLE_EQ(EstimateSeconds(*p, 20.0), 600 + 4800 + 1800 + 600 + 1800);
}

TEST(ProgramFile, RefusedFilesSayWhereAndWhy) {
  auto file = [](const char* steps, const char* rest = "") {
    return QByteArray(R"({"format": "calorix-program", "version": 1, "steps": )") + steps + rest +
           "}";
  };
  struct TCase {
    QByteArray Text;
    const char* Message;
  };
  const TCase cases[] = {
      {"{\"format\": ", "Файл программы не является файлом JSON"},
      {R"({"format": "other", "version": 1, "steps": []})", "Файл не является файлом программы"},
      {R"({"format": "calorix-program", "version": 2, "steps": []})",
       "Неподдерживаемая версия файла программы: 2"},
      {file(R"([{"type": "boil"}])"), "Шаг 1, поле \"type\": неизвестный тип шага"},
      {file(R"([{"type": "set"}])"), "Шаг 1, поле \"setpoint\": поле отсутствует"},
      {file(R"([{"type": "set", "setpoint": "20"}])"),
       "Шаг 1, поле \"setpoint\": значение не является конечным числом"},
      {file(R"([{"type": "hold", "seconds": -5}])"),
       "Шаг 1, поле \"seconds\": значение не может быть отрицательным"},
      {file(R"([{"type": "set", "setpoint": 1}, {"type": "ramp", "setpoint": 5, "rate": -1}])"),
       "Шаг 2, поле \"rate\": значение не может быть отрицательным"},
      {file(R"([{"type": "ramp", "setpoint": 5}])"),
       "Шаг 1, поле \"rate\": нужно задать либо скорость (rate), либо длительность (seconds)"},
      {file(R"([{"type": "wait", "seconds": 10}])"), "Шаг 1, поле \"band\": поле отсутствует"},
      {file(R"([{"type": "set", "setpoint": 200}])"),
       "Шаг 1, поле \"setpoint\": уставка вне допустимых пределов"},
      {file(R"([{"type": "repeat", "from": 1, "count": 1}])"),
       "Шаг 1, поле \"from\": повтор может ссылаться только на один из предыдущих шагов"},
      {file(R"([{"type": "set", "setpoint": 1}, {"type": "repeat", "from": 1, "count": 1.5}])"),
       "Шаг 2, поле \"count\": значение должно быть целым числом"},
      // Loop 2..3 and loop 1..2 overlap without nesting.
      {file(R"([{"type": "set", "setpoint": 1}, {"type": "set", "setpoint": 2},
                {"type": "repeat", "from": 1, "count": 1}, {"type": "repeat", "from": 2, "count": 1}])"),
       "Шаг 4, поле \"from\": цикл пересекается с другим циклом"},
      {file("[]", R"(, "end": {"setpoint": 1e400})"), "Файл программы не является файлом JSON"},
      {file("[]", R"(, "end": {"setpoint": -60})"),
       "Конечная уставка, поле \"setpoint\": уставка вне допустимых пределов"},
  };
  const TSetpointLimits limits;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text.toStdString());
    QString error;
    EXPECT_FALSE(ParseProgram(c.Text, &limits, &error));
    EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.Message))) << error.toStdString();
  }
}

// A pipe or a device chosen as a program is refused before it is opened:
// opening a pipe would wait for a writer that never comes.
TEST(ProgramFile, OnlyRegularFilesAreOpened) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("pipe.json");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const TSetpointLimits limits;
  for (const QString& path : {fifo, dir.path(), QStringLiteral("/dev/zero")}) {
    QString error;
    EXPECT_FALSE(LoadProgramFile(path, &limits, &error)) << path.toStdString();
    EXPECT_EQ(error, "Файл не является файлом программы") << path.toStdString();
  }
}

}  // namespace
}  // namespace calorix
