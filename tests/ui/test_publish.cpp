// Publishing as the window shows and keeps it: a fault in the status bar, the
// dialog's group taking new settings, and the section written at close only
// because they changed. The broker itself is the end-to-end test's.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/ui/WindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

using namespace calorix;
using calorix::test::TWindowFixture;

using calorix::test::ClosedPort;

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
};

QTEST_MAIN(TestPublish)
#include "test_publish.moc"
