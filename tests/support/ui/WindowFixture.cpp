#include "tests/support/ui/WindowFixture.h"

#include "tests/support/WaitFor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace calorix::test {

TWindowFixture::TWindowFixture() {
  TTimer::SetManualMode(true);
  // The simulator reads the same manual clock; the fixture outlives it.
  FSim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
  Sim = FSim.get();
}

std::shared_ptr<TSimThermostat> TWindowFixture::Plug(TSimThermostatOptions options) {
  options.Noise = 0.0;
  return Sim->Plug(std::move(options));
}

bool TWindowFixture::WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  return WaitForEvent(cond, timeoutMs);
}

void TWindowFixture::Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

void TWindowFixture::WriteIni(const QByteArray& text) const {
  QFile f(IniPath());
  if (f.open(QIODevice::WriteOnly))
    f.write(text);
}

QByteArray TWindowFixture::ReadIni() const {
  QFile f(IniPath());
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TMainFrm& TWindowFixture::Create() {
  TMainFrmOptions options;
  options.Prompts = &Prompts;
  options.Clock = &Clock;
  options.IniFileName = IniPath();
  options.JournalFolder = JournalFolder();
  options.Platform = std::move(FSim);
  options.Mqtt = MqttOption;
  FWindow = std::make_unique<TMainFrm>(std::move(options));
  FWindow->FormCreate();
  return *FWindow;
}

void TWindowFixture::Close() {
  if (FWindow)
    FWindow->close();
}

void TWindowFixture::Destroy() {
  FWindow.reset();
}

}  // namespace calorix::test
