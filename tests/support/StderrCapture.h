#pragma once
// Standard error goes to a file while a capture lives, where the test reads it;
// at the end what was written goes on to the real standard error, sanitizer
// reports too.
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace calorix::test {

class TStderrCapture {
 public:
  TStderrCapture() {
    std::fflush(stderr);
    FSaved = ::dup(2);
    const int fd = ::open(FDir.filePath(QStringLiteral("stderr")).toLocal8Bit().constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~TStderrCapture() {
    const QByteArray text = Text().toUtf8();
    ::dup2(FSaved, 2);
    ::close(FSaved);
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
  }
  TStderrCapture(const TStderrCapture&) = delete;
  TStderrCapture& operator=(const TStderrCapture&) = delete;

  QString Text() const {
    std::fflush(stderr);
    QFile f(FDir.filePath(QStringLiteral("stderr")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

 private:
  QTemporaryDir FDir;
  int FSaved = -1;
};

}  // namespace calorix::test
