// The command line: what each argument list gives (exit status, the texts on
// standard output and error, the values taken), and the real program's exit
// status without any display.
#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

using calorix::ParseCommandLine;
using calorix::TEndpoint;

class TestCommandLine : public QObject {
  Q_OBJECT

 private slots:
  void arguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");  // contained in standard output
    QTest::addColumn<QString>("error");   // contained in standard error
    // simulate|emulator|remote|mqtt as taken, and |thermostats when some are named
    QTest::addColumn<QString>("values");
    const QString none = "-|-|-|-";
    QTest::newRow("nothing") << QStringList{} << -1 << ""
                             << "" << none;
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--simulate[=<devices>]"
                          << "" << none;
    QTest::newRow("help lists the emulator") << QStringList{"-h"} << 0 << "--hid-emulator=<path>"
                                             << "" << none;
    QTest::newRow("help lists remote") << QStringList{"--help"} << 0 << "--remote[=<address>]"
                                       << "" << none;
    QTest::newRow("help lists mqtt") << QStringList{"--help"} << 0 << "--mqtt=<host[:port]>"
                                     << "" << none;
    QTest::newRow("version") << QStringList{"--version"} << 0 << "calorix 3.0\n"
                             << "" << none;
    QTest::newRow("bare simulate") << QStringList{"--simulate"} << -1 << ""
                                   << ""
                                   << "thermostat|-|-|-";
    QTest::newRow("two devices") << QStringList{"--simulate=thermostat,adapter"} << -1 << ""
                                 << ""
                                 << "thermostat,adapter|-|-|-";
    QTest::newRow("emulator") << QStringList{"--hid-emulator=/tmp/s"} << -1 << ""
                              << ""
                              << "-|/tmp/s|-|-";
    QTest::newRow("bare remote") << QStringList{"--remote"} << -1 << ""
                                 << ""
                                 << "-|-|127.0.0.1:5025|-";
    QTest::newRow("remote port") << QStringList{"--remote=6000"} << -1 << ""
                                 << ""
                                 << "-|-|127.0.0.1:6000|-";
    QTest::newRow("remote v6") << QStringList{"--remote=[::1]:7000"} << -1 << ""
                               << ""
                               << "-|-|::1:7000|-";
    QTest::newRow("mqtt default port") << QStringList{"--mqtt=broker"} << -1 << ""
                                       << ""
                                       << "-|-|-|broker:1883";
    QTest::newRow("mqtt port") << QStringList{"--mqtt=broker:1884"} << -1 << ""
                               << ""
                               << "-|-|-|broker:1884";
    QTest::newRow("unknown option") << QStringList{"--simulat"} << 2 << ""
                                    << "simulat" << none;
    QTest::newRow("bad device") << QStringList{"--simulate=foo"} << 2 << ""
                                << "foo" << none;
    QTest::newRow("empty emulator path") << QStringList{"--hid-emulator="} << 2 << ""
                                         << "--hid-emulator" << none;
    QTest::newRow("both device sources")
        << QStringList{"--simulate", "--hid-emulator=/tmp/s"} << 2 << ""
        << "together" << none;
    QTest::newRow("port too large") << QStringList{"--remote=70000"} << 2 << ""
                                    << "70000" << none;
    QTest::newRow("remote host name") << QStringList{"--remote=example.org:5025"} << 2 << ""
                                      << "example.org" << none;
    QTest::newRow("mqtt port zero") << QStringList{"--mqtt=broker:0"} << 2 << ""
                                    << "broker:0" << none;
    QTest::newRow("twice") << QStringList{"--mqtt=a", "--mqtt=b"} << 2 << ""
                           << "more than once" << none;
    QTest::newRow("stray argument") << QStringList{"file.csv"} << 2 << ""
                                    << "file.csv" << none;
    QTest::newRow("help lists thermostat") << QStringList{"--help"} << 0 << "--thermostat=<serials>"
                                           << "" << none;
    QTest::newRow("thermostats") << QStringList{"--thermostat= SIM0002,SIM0001 ,SIM0002"} << -1
                                 << ""
                                 << "" << none + "|SIM0002,SIM0001";
    QTest::newRow("empty serial") << QStringList{"--thermostat=SIM0001,,SIM0002"} << 2 << ""
                                  << "--thermostat" << none;
    QTest::newRow("no serial") << QStringList{"--thermostat="} << 2 << ""
                               << "--thermostat" << none;
    QTest::newRow("help lists config") << QStringList{"--help"} << 0 << "--config=<file>"
                                       << "" << none;
    QTest::newRow("headless") << QStringList{"--headless", "--config=/etc/c.ini"} << -1 << ""
                              << "" << none + "|headless:/etc/c.ini";
    QTest::newRow("config without headless") << QStringList{"--config=/etc/c.ini"} << 2 << ""
                                             << "--headless" << none;
  }

  void arguments() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(QString, values);
    args.prepend("calorix");
    const auto r = ParseCommandLine(args);
    QCOMPARE(r.ExitCode, exitCode);
    QVERIFY2(r.Output.contains(output), qPrintable(r.Output));
    QVERIFY2(r.Error.contains(error), qPrintable(r.Error));
    QCOMPARE(r.Error.isEmpty(), exitCode != 2);
    if (exitCode == 2)
      QVERIFY2(r.Error.contains("--help"), qPrintable(r.Error));
    auto endpoint = [](const std::optional<TEndpoint>& e) {
      return e ? e->Host + ':' + QString::number(e->Port) : QString("-");
    };
    const QString taken =
        QStringList{r.Options.Simulate.value_or("-"), r.Options.HidEmulator.value_or("-"),
                    endpoint(r.Options.Remote), endpoint(r.Options.Mqtt)}
            .join('|') +
        (r.Options.Thermostats.isEmpty() ? QString() : '|' + r.Options.Thermostats.join(',')) +
        (r.Options.Headless ? "|headless:" + r.Options.Config.value_or("-") : QString());
    QCOMPARE(taken, values);
  }

  // Without a display a window could not open: status 2 shows the option was
  // refused before any.
  void realProgramRefusesAnUnknownOptionWithoutADisplay() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + "/../calorix", {"--simulat"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("simulat"));
    QVERIFY(p.readAllStandardOutput().isEmpty());
  }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
