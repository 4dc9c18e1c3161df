// Publishing as the window shows and keeps it: a fault in the status bar, the
// dialog's group taking new settings, the section written at close only
// because they changed (and never with the broker of --mqtt), and the rules
// for setpoint commands against a real broker.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestBroker.h"
#include "tests/support/ui/WindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

using namespace calorix;
using calorix::test::TWindowFixture;

using calorix::test::ClosedPort;
using calorix::test::TStderrCapture;

namespace {

QString Panel(TMainFrm& w) {
  return w.MqttPanel ? w.MqttPanel->text() : QString();
}

}  // namespace

class TestPublish : public QObject {
  Q_OBJECT
 private slots:
  void faultsShowAndDialogSettingsAreKept() {
    TWindowFixture fx;
    const QString missing = QDir::temp().filePath(QStringLiteral("calorix-no-such-password"));
    fx.WriteIni(QStringLiteral("[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPasswordFile=%1\r\n")
                    .arg(missing)
                    .toUtf8());
    TMainFrm& w = fx.Create();
    QCOMPARE(Panel(w), QStringLiteral("MQTT: не удалось прочитать файл пароля ") + missing);

    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    const int port = ClosedPort();
    QString shownHost;
    fx.Prompts.OnDialog = [&](QDialog& d) {
      shownHost = d.findChild<QLineEdit*>(QStringLiteral("MqttHost"))->text();
      d.findChild<QLineEdit*>(QStringLiteral("MqttPasswordFile"))->clear();
      d.findChild<QSpinBox*>(QStringLiteral("MqttPort"))->setValue(port);
      d.findChild<QLineEdit*>(QStringLiteral("MqttPrefix"))->setText(QStringLiteral("lab"));
      d.findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(shownHost, QStringLiteral("127.0.0.1"));
    // The state, whatever second of the countdown the check happens to see.
    const QRegularExpression retrying(QStringLiteral("^MQTT: нет связи, повтор через \\d+ с$"));
    QVERIFY2(TWindowFixture::WaitFor([&] { return retrying.match(Panel(w)).hasMatch(); }, 30000),
             qPrintable(Panel(w)));
    w.SetSettingsForm(nullptr);
    fx.Close();
    const QByteArray ini = fx.ReadIni();
    for (const QByteArray& line :
         {QByteArray("Enabled=1"), QByteArray("Host=127.0.0.1"), "Port=" + QByteArray::number(port),
          QByteArray("Prefix=lab"), QByteArray("PasswordFile=\r\n"), QByteArray("QoS=1"),
          QByteArray("Commands=0")})
      QVERIFY2(ini.contains(line), ini.constData());
  }

  // OK in the dialog keeps the broker of --mqtt out of the settings file.
  void optionBrokerIsForThisRunOnly() {
    TWindowFixture fx;
    fx.WriteIni("[MQTT]\r\nEnabled=0\r\nHost=broker.lab.invalid\r\nPort=1884\r\n");
    fx.MqttOption = TEndpoint{QStringLiteral("127.0.0.1"), quint16(ClosedPort())};
    TMainFrm& w = fx.Create();
    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    fx.Prompts.OnDialog = [&](QDialog& d) {
      d.findChild<QLineEdit*>(QStringLiteral("MqttPrefix"))->setText(QStringLiteral("lab"));
      d.findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
      return d.result();
    };
    w.SettingsBtn->click();
    w.SetSettingsForm(nullptr);
    fx.Close();
    const QByteArray ini = fx.ReadIni();
    for (const char* line :
         {"Enabled=0\r\n", "Host=broker.lab.invalid\r\n", "Port=1884\r\n", "Prefix=lab\r\n"})
      QVERIFY2(ini.contains(line), ini.constData());
  }

  // Setpoint commands through a broker: only live ones, only with a login of
  // the program's own whose password file no one else may read, only within
  // the setpoint limits, written with two decimals; what the broker sends is
  // printed harmlessly. A marker command (20.5) after an ignored one shows that
  // the ignored one was handled without effect.
  void commandRules_data() {
    QTest::addColumn<int>("passwordMode");  // 0: no login
    QTest::addColumn<QByteArray>("retained");
    QTest::addColumn<QByteArray>("serial");  // the topic level the command goes to
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("line");     // expected on standard error
    QTest::addColumn<double>("setpoint");  // the thermostat's in the end (25 at start)
    const QByteArray none;
    QTest::newRow("retained at connect") << 0600 << QByteArray("77") << QByteArray("T1") << none
                                         << "a retained command \"77\" is ignored" << 20.5;
    QTest::newRow("no login") << 0 << none << QByteArray("T1") << QByteArray("21") << QString()
                              << 25.0;
    QTest::newRow("password file others may read")
        << 0644 << none << QByteArray("T1") << QByteArray("21") << QString() << 25.0;
    QTest::newRow("above the limits") << 0600 << none << QByteArray("T1") << QByteArray("150.01")
                                      << "150.01 is outside the setpoint limits -50..150" << 20.5;
    QTest::newRow("two decimals") << 0600 << none << QByteArray("T1") << QByteArray(" 2.5456e1")
                                  << QString() << 25.46;
    QTest::newRow("oversized") << 0600 << none << QByteArray("T1") << QByteArray(300, '1')
                               << "a message of 300 bytes, more than 256, ignored" << 20.5;
    QTest::newRow("control characters in the topic")
        << 0600 << none << QByteArray("T\xe2\x80\xae") << QByteArray("21")
        << "lab/T\\u{202e}/setpoint/set: no such thermostat selected" << 20.5;
  }

  void commandRules() {
    QFETCH(int, passwordMode);
    QFETCH(QByteArray, retained);
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, command);
    QFETCH(QString, line);
    QFETCH(double, setpoint);
    if (!test::TTestBroker::Available())
      QSKIP("mosquitto is not installed");
    test::TTestBroker broker(true);
    QVERIFY2(broker.Error().isEmpty(), qPrintable(broker.Error()));
    const QByteArray topic = "lab/" + serial + "/setpoint/set";
    if (!retained.isEmpty())
      QVERIFY(broker.Publish("lab/T1/setpoint/set", retained, true));
    const QString clientId = QStringLiteral("test-rules");
    QByteArray ini = QStringLiteral(
                         "[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=%1\r\n"
                         "Prefix=lab\r\nClientId=%2\r\nCommands=1\r\n")
                         .arg(broker.Port())
                         .arg(clientId)
                         .toUtf8();
    QTemporaryDir dir;
    const QString passwordFile = dir.filePath(QStringLiteral("password"));
    if (passwordMode != 0) {
      QFile f(passwordFile);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("secret\n");
      f.close();
      QVERIFY(::chmod(passwordFile.toLocal8Bit().constData(), mode_t(passwordMode)) == 0);
      ini += "User=lab\r\nPasswordFile=" + passwordFile.toUtf8() + "\r\n";
    }
    TStderrCapture errors;
    TWindowFixture fx;
    TSimThermostatOptions options;
    options.Serial = "T1";
    const auto thermostat = fx.Plug(options);
    fx.WriteIni(ini);
    TMainFrm& w = fx.Create();
    QList<double> readBack;
    QObject::connect(w.Session(), &TThermostatSession::SetpointRead,
                     [&](double v) { readBack << v; });
    QVERIFY(TWindowFixture::WaitFor([&] { return w.SelectedDevice() != nullptr; }, 30000));
    if (passwordMode & 0044) {
      QCOMPARE(Panel(w), QStringLiteral("MQTT: файл пароля %1 могут читать другие пользователи, "
                                        "нужен режим 600")
                             .arg(passwordFile));
      return;
    }
    QString connected = QStringLiteral("MQTT: подключено к 127.0.0.1:%1").arg(broker.Port());
    if (passwordMode == 0)
      connected +=
          QStringLiteral("; команды от брокера выключены: нужен вход (пользователь и файл пароля)");
    QVERIFY2(TWindowFixture::WaitFor([&] { return Panel(w) == connected; }, 30000),
             qPrintable(Panel(w)));
    // The program subscribes before it says it is online.
    const QString online = QStringLiteral("Received PUBLISH from %1 (d0, q1, r1, m").arg(clientId);
    QVERIFY2(TWindowFixture::WaitFor([&] { return broker.Log().contains(online); }, 30000),
             qPrintable(broker.Log()));
    QCOMPARE(broker.Log().contains(QStringLiteral("Received SUBSCRIBE from ") + clientId),
             passwordMode != 0);
    if (!command.isEmpty())
      QVERIFY(broker.Publish(topic, command));
    if (setpoint == 20.5)
      QVERIFY(broker.Publish("lab/T1/setpoint/set", "20.5"));
    QVERIFY2(TWindowFixture::WaitFor(
                 [&] { return std::abs(thermostat->Setpoint() - setpoint) < 1e-9; }, 30000),
             qPrintable(QString::number(thermostat->Setpoint())));
    if (!line.isEmpty())
      QVERIFY2(TWindowFixture::WaitFor([&] { return errors.Text().contains(line); }, 30000),
               qPrintable(errors.Text()));
    for (const double v : readBack)
      QVERIFY2(v == 25.0 || std::abs(v - setpoint) < 1e-9, qPrintable(QString::number(v)));
  }
};

QTEST_MAIN(TestPublish)
#include "test_publish.moc"
