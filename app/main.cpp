// Program entry: the application object, the main window, the settings dialog
// and the message loop. An exception that escapes an event handler is shown in
// an error box and the program goes on.
#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/QtPrompts.h"
#include "app/Windows.h"
#include "base/Helper.h"
#include "base/IniFile.h"
#include "base/Language.h"
#include "link/HidEmulator.h"
#include "link/HidLinux.h"
#include "link/SimHidPlatform.h"
#include "service/Headless.h"
#include "service/Service.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace {

class TApplication final : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
      ShowException(QString());
    }
    return false;
  }

  static void ShowException(const QString& text) {
    QMessageBox::critical(nullptr, QStringLiteral("Calorix"), text);
  }
};

// The HID devices: real ones through hidraw, simulated thermostats with
// --simulate, or devices played by an outside program with --hid-emulator=PATH.
std::unique_ptr<calorix::IHidPlatform> MakePlatform(const calorix::TCommandLine& line,
                                                    std::shared_ptr<calorix::IClock> clock) {
  if (line.HidEmulator) {
    // Shown by the first window (the program's own status line), or logged.
    return calorix::MakeEmulatorPlatform(
        *line.HidEmulator, [headless = line.Headless](const QString& status) {
          if (headless)
            std::fprintf(stderr, "%s\n", status.toUtf8().constData());
          else if (calorix::MainFrm)
            calorix::MainFrm->SetStatusText(1, status);
        });
  }
  if (line.Simulate)
    return calorix::MakeSimulatedPlatform(*line.Simulate, nullptr, clock);
  return calorix::MakeLinuxPlatform();
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before any window or display connection exists,
  // so --help and a malformed option work without a desktop.
  QStringList args;
  for (int i = 0; i < argc; ++i)
    args << QString::fromLocal8Bit(argv[i]);
  const calorix::TCommandLineResult line = calorix::ParseCommandLine(args);
  if (line.ExitCode >= 0) {
    std::fputs(line.Output.toLocal8Bit().constData(), stdout);
    std::fputs(line.Error.toLocal8Bit().constData(), stderr);
    return line.ExitCode;
  }
  if (line.Options.Headless) {
    // No window and no display: a core application loads no platform plugin.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Calorix"));
    try {
      const QString ini = line.Options.Config.value_or(calorix::IniFileName());
      const calorix::TTranslations translations(calorix::ReadLanguage(calorix::TIniFile(ini)));
      auto clock = std::make_shared<calorix::TSteadyClock>();
      calorix::THeadlessOptions options;
      options.Clock = clock.get();
      options.IniFileName = ini;
      options.Remote = line.Options.Remote;
      options.Mqtt = line.Options.Mqtt;
      options.Thermostats = line.Options.Thermostats;
      calorix::THeadless headless(std::move(options), MakePlatform(line.Options, clock));
      return calorix::RunHeadless(headless);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "calorix: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "calorix: unexpected exception\n");
    }
    return 1;
  }
  TApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Calorix"));
  // Wayland compositors match the window to the installed desktop entry by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("invalid.calorix.Calorix"));
  try {
    // The language of the settings file, before any window: Russian unless it says "en".
    const calorix::TTranslations translations(
        calorix::ReadLanguage(calorix::TIniFile(calorix::IniFileName())));
    calorix::TQtPrompts prompts;
    auto clock = std::make_shared<calorix::TSteadyClock>();
    calorix::TWindowsOptions options;
    options.Prompts = &prompts;
    options.Clock = clock.get();
    options.IniFileName = calorix::IniFileName();
    options.JournalFolder = calorix::JournalFolder();
    options.Remote = line.Options.Remote;
    options.Mqtt = line.Options.Mqtt;
    options.Thermostats = line.Options.Thermostats;
    // The program ends when its last window closes.
    calorix::TWindows windows(std::move(options), MakePlatform(line.Options, clock));
    windows.Start();
    app.exec();
  } catch (const std::exception& e) {
    TApplication::ShowException(QString::fromUtf8(e.what()));
  } catch (...) {
    TApplication::ShowException(QString());
  }
  return 0;
}
