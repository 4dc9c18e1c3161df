// Opening and saving a record of a million samples, against a reader built
// the usual Qt way (line by line, split, QTime::fromString, QLocale::toDouble).
#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTime>

#include <cmath>
#include <vector>

#include "record/MeasurementFile.h"

namespace calorix {
namespace {

constexpr int kSamples = 1'000'000;

TFormatSettings Ru() {
  TFormatSettings f;
  f.DecimalSeparator = ',';
  return f;
}

std::vector<TFileSample> MakeSamples() {
  std::vector<TFileSample> s(kSamples);
  // Times within a day, so that QTime::fromString takes every line.
  for (int i = 0; i < kSamples; ++i)
    s[std::size_t(i)] = {(i % 86400) / 86400.0, 20.0 + 5.0 * std::sin(i / 100.0)};
  return s;
}

struct TFixture {
  QTemporaryDir Dir;
  QString Path = Dir.filePath("run.csv");
  std::vector<TFileSample> Samples = MakeSamples();
  TFixture() { SaveFileBytes(Path, FormatMeasurementFile(Samples, Ru())); }
};

TFixture& Fixture() {
  static TFixture f;
  return f;
}

void BM_ReadMeasurementFile(benchmark::State& state) {
  const TFormatSettings f = Ru();
  for (auto _ : state) {
    auto r = ReadMeasurementFile(Fixture().Path, f, f.WithDecimal('.'), f.WithDecimal(','));
    if (r.Samples.size() != kSamples)
      state.SkipWithError("wrong sample count");
    benchmark::DoNotOptimize(r.Samples.data());
  }
}
BENCHMARK(BM_ReadMeasurementFile)->Unit(benchmark::kMillisecond);

void BM_QtLineReaderBaseline(benchmark::State& state) {
  const QLocale ru(QLocale::Russian, QLocale::Russia);
  for (auto _ : state) {
    QFile file(Fixture().Path);
    file.open(QIODevice::ReadOnly);
    QTextStream in(&file);
    std::vector<TFileSample> samples;
    QString line;
    while (in.readLineInto(&line)) {
      const QStringList fields = line.split(';');
      if (fields.size() < 2)
        continue;
      const QTime t = QTime::fromString(fields[0], QStringLiteral("h:mm:ss"));
      if (!t.isValid())
        continue;
      bool ok = false;
      double v = ru.toDouble(fields[1], &ok);
      if (!ok)
        v = NAN;
      samples.push_back({t.msecsSinceStartOfDay() / 86'400'000.0, v});
    }
    if (samples.size() != kSamples)
      state.SkipWithError("wrong sample count");
    benchmark::DoNotOptimize(samples.data());
  }
}
BENCHMARK(BM_QtLineReaderBaseline)->Unit(benchmark::kMillisecond);

void BM_FormatMeasurementFile(benchmark::State& state) {
  for (auto _ : state) {
    QByteArray bytes = FormatMeasurementFile(Fixture().Samples, Ru());
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_FormatMeasurementFile)->Unit(benchmark::kMillisecond);

void BM_SaveMeasurementFile(benchmark::State& state) {
  const QString path = Fixture().Dir.filePath("saved.csv");
  for (auto _ : state) {
    const QString error = SaveFileBytes(path, FormatMeasurementFile(Fixture().Samples, Ru()));
    if (!error.isEmpty())
      state.SkipWithError(error.toStdString().c_str());
  }
}
BENCHMARK(BM_SaveMeasurementFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
