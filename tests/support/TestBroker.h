#pragma once
// A mosquitto broker of the test's own on a free loopback port, with a login
// (user "lab", password "secret") and, when asked, anonymous clients too.
// Skipped tests ask Available() first: Debian's mosquitto may be missing.
#include "tests/support/ClosedPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

namespace calorix::test {

class TTestBroker {
 public:
  static QString Mosquitto() {
    return QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
  }
  static bool Available() {
    return !Mosquitto().isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")).isEmpty();
  }

  // Empty Error() once it listens.
  explicit TTestBroker(bool anonymous) : FPort(ClosedPort()) {
    // Started by root, the broker drops to its own user, which must read the files.
    QFile::setPermissions(FDir.path(), QFile::permissions(FDir.path()) | QFile::ReadOther |
                                           QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const QString passwords = FDir.filePath(QStringLiteral("passwords"));
    if (QProcess::execute(QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")),
                          {QStringLiteral("-b"), QStringLiteral("-c"), passwords,
                           QStringLiteral("lab"), QStringLiteral("secret")}) != 0) {
      FError = QStringLiteral("mosquitto_passwd failed");
      return;
    }
    QFile conf(FDir.filePath(QStringLiteral("broker.conf")));
    if (!conf.open(QIODevice::WriteOnly)) {
      FError = QStringLiteral("cannot write the broker's configuration");
      return;
    }
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous %2\npassword_file %3\n"
                              "persistence false\nlog_type all\n")
                   .arg(FPort)
                   .arg(anonymous ? QStringLiteral("true") : QStringLiteral("false"), passwords)
                   .toUtf8());
    conf.close();
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.start(Mosquitto(), {QStringLiteral("-c"), conf.fileName()});
    if (!FProcess.waitForStarted() || !WaitForListener()) {
      FError =
          QStringLiteral("the broker did not start: ") + QString::fromLocal8Bit(FProcess.readAll());
    }
  }
  ~TTestBroker() {
    FProcess.terminate();
    FProcess.waitForFinished();
  }

  int Port() const { return FPort; }
  // What the broker logged so far (every packet: log_type all).
  QString Log() {
    FLog += QString::fromLocal8Bit(FProcess.readAll());
    return FLog;
  }
  const QString& Error() const { return FError; }
  QString Path() const { return FDir.path(); }

  // Publishes one message as another client of the lab would; retained when asked.
  bool Publish(const QByteArray& topic, const QByteArray& payload, bool retain = false) const {
    QStringList args{QStringLiteral("-h"),   QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                     QString::number(FPort), QStringLiteral("-u"),        QStringLiteral("lab"),
                     QStringLiteral("-P"),   QStringLiteral("secret"),    QStringLiteral("-q"),
                     QStringLiteral("1"),    QStringLiteral("-t"),        QString::fromUtf8(topic),
                     QStringLiteral("-m"),   QString::fromUtf8(payload)};
    if (retain)
      args << QStringLiteral("-r");
    return QProcess::execute(QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")),
                             args) == 0;
  }

 private:
  bool WaitForListener() const {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(std::uint16_t(FPort));
      const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      if (up)
        return true;
      QThread::msleep(20);
    }
    return false;
  }

  QTemporaryDir FDir;
  int FPort;
  QProcess FProcess;
  QString FError;
  QString FLog;
};

// Another client of the lab ("test-sub"; the broker's log tells when it has
// subscribed), reading a topic filter: one line per message, "<topic> <payload>".
class TTestSubscriber {
 public:
  TTestSubscriber(int port, const QString& filter) {
    FProcess.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")),
                   {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                    QString::number(port), QStringLiteral("-i"), QStringLiteral("test-sub"),
                    QStringLiteral("-u"), QStringLiteral("lab"), QStringLiteral("-P"),
                    QStringLiteral("secret"), QStringLiteral("-v"), QStringLiteral("-t"), filter});
  }
  ~TTestSubscriber() {
    FProcess.terminate();
    FProcess.waitForFinished();
  }
  static bool Available() {
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty();
  }
  // Every line so far.
  QStringList Lines() {
    FText += QString::fromUtf8(FProcess.readAllStandardOutput());
    QStringList lines = FText.split(QLatin1Char('\n'));
    lines.removeLast();  // not ended yet, or empty
    return lines;
  }

 private:
  QProcess FProcess;
  QString FText;
};

}  // namespace calorix::test
