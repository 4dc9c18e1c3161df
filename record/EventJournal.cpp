#include "record/EventJournal.h"

#include "record/Journal.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace calorix {

namespace {

QByteArray Line(const TEvent& event) {
  return QJsonDocument(EventToJson(event)).toJson(QJsonDocument::Compact) + '\n';
}

const QString kJournal = QStringLiteral(".journal");
const QString kEvents = QStringLiteral(".events");

}  // namespace

TEventJournal::TEventJournal(QString path) : FPath(std::move(path)) {}

TEventJournal::~TEventJournal() {
  if (FFd >= 0)
    ::close(FFd);
}

bool TEventJournal::Open() {
  if (FFd >= 0)
    return true;
  if (!FError.isEmpty())
    return false;  // said once; the record itself is in the journal
  QDir().mkpath(QFileInfo(FPath).absolutePath());
  const QByteArray name = QFile::encodeName(FPath);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    FError = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
      ::close(fd);
    return false;
  }
  FFd = fd;
  return true;
}

void TEventJournal::Write(const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(FFd, p, std::size_t(left));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      FError = QString::fromLocal8Bit(std::strerror(errno));
      return;
    }
    p += n;
    left -= n;
  }
}

void TEventJournal::Append(const TEvent& event) {
  if (Open())
    Write(Line(event));
}

void TEventJournal::Rewrite(const std::vector<TEvent>& events) {
  if (!Open())
    return;
  QByteArray bytes;
  for (const TEvent& e : events)
    bytes += Line(e);
  if (::ftruncate(FFd, 0) != 0 || ::lseek(FFd, 0, SEEK_SET) != 0) {
    FError = QString::fromLocal8Bit(std::strerror(errno));
    return;
  }
  Write(bytes);
}

void TEventJournal::Close() {
  if (FFd < 0)
    return;
  ::unlink(QFile::encodeName(FPath).constData());
  ::close(std::exchange(FFd, -1));
}

QString TEventJournal::PathFor(const QString& journalPath) {
  QString base = journalPath;
  if (base.endsWith(QStringLiteral(".new")))
    base.chop(4);
  if (base.endsWith(kJournal))
    base.chop(kJournal.size());
  return base + kEvents;
}

std::vector<TEvent> TEventJournal::Read(const QString& path) {
  std::vector<TEvent> events;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return events;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine();
    if (!line.endsWith('\n'))
      break;  // torn by a crash
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (const auto e = doc.isObject() ? EventFromJson(doc.object()) : std::nullopt)
      events.push_back(*e);
  }
  return events;
}

bool TEventJournal::Discard(const QString& path) {
  const int fd = OpenAbandoned(path);
  if (fd < 0)
    return errno == ENOENT;
  const bool removed = ::unlink(QFile::encodeName(path).constData()) == 0;
  ::close(fd);
  return removed;
}

void TEventJournal::DiscardOrphans(const QString& folder) {
  const QDir dir(folder);
  for (const QString& name :
       dir.entryList({QStringLiteral("record-*") + kEvents}, QDir::Files | QDir::Hidden)) {
    const QString path = dir.filePath(name);
    const QString journal = path.chopped(kEvents.size()) + kJournal;
    if (!QFile::exists(journal) && !QFile::exists(journal + QStringLiteral(".new")))
      Discard(path);
  }
}

}  // namespace calorix
