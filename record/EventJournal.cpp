#include "record/EventJournal.h"

#include "record/Journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

TEventJournal::TEventJournal(QString path)
    : FPath(std::move(path)), FWriter([this] { WriterLoop(); }) {}

TEventJournal::~TEventJournal() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FWake.notify_all();
  FWriter.join();
  if (FFd >= 0)
    ::close(FFd);
}

void TEventJournal::Append(const TEvent& event) {
  bool wake;
  {
    std::lock_guard lock(FMutex);
    // Events waiting already have the writer woken.
    wake = FPending.empty();
    FPending.push_back(event);
  }
  if (wake)
    FWake.notify_one();
}

void TEventJournal::Rewrite(std::vector<TEvent> events) {
  {
    std::lock_guard lock(FMutex);
    FPending.clear();
    FRewrite = std::move(events);
  }
  FWake.notify_one();
}

void TEventJournal::Flush() {
  std::unique_lock lock(FMutex);
  ++FFlushes;
  FWake.notify_one();
  FDone.wait(lock, [&] { return FPending.empty() && !FRewrite && FBusy == 0; });
  --FFlushes;
}

QString TEventJournal::Error() const {
  std::lock_guard lock(FMutex);
  return FError;
}

void TEventJournal::WriterLoop() {
  std::unique_lock lock(FMutex);
  for (;;) {
    FWake.wait(lock, [&] { return FStop || FRewrite || !FPending.empty(); });
    // Events came: a moment's worth goes out in one write, so the one who
    // logs them never waits for the writer (a stop, a rewrite or a flush
    // cuts the moment short).
    if (!FStop && !FRewrite)
      FWake.wait_for(lock, kGather, [&] { return FStop || FRewrite || FFlushes > 0; });
    if (FPending.empty() && !FRewrite)
      return;  // stopped with nothing left
    std::optional<std::vector<TEvent>> rewrite = std::exchange(FRewrite, std::nullopt);
    std::deque<TEvent> pending;
    pending.swap(FPending);
    ++FBusy;
    lock.unlock();
    QByteArray bytes;
    if (rewrite) {
      for (const TEvent& e : *rewrite)
        bytes += Line(e);
    }
    for (const TEvent& e : pending)
      bytes += Line(e);
    Write(bytes, rewrite.has_value());
    lock.lock();
    --FBusy;
    FDone.notify_all();
  }
}

bool TEventJournal::Open() {
  if (FFd >= 0)
    return true;
  QDir().mkpath(QFileInfo(FPath).absolutePath());
  const QByteArray name = QFile::encodeName(FPath);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    const int e = errno;
    if (fd >= 0)
      ::close(fd);
    std::lock_guard lock(FMutex);
    FError = QString::fromLocal8Bit(std::strerror(e));
    return false;
  }
  FFd = fd;
  return true;
}

void TEventJournal::Write(const QByteArray& bytes, bool truncate) {
  {
    std::lock_guard lock(FMutex);
    if (!FError.isEmpty())
      return;  // said once; the record itself is in the journal
  }
  if (!Open())
    return;
  int error = 0;
  if (truncate && (::ftruncate(FFd, 0) != 0 || ::lseek(FFd, 0, SEEK_SET) != 0))
    error = errno;
  const char* p = bytes.constData();
  qsizetype left = error == 0 ? bytes.size() : 0;
  while (left > 0) {
    const ssize_t n = ::write(FFd, p, std::size_t(left));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    p += n;
    left -= n;
  }
  if (error != 0) {
    std::lock_guard lock(FMutex);
    FError = QString::fromLocal8Bit(std::strerror(error));
  }
}

void TEventJournal::Close() {
  {
    std::lock_guard lock(FMutex);
    FPending.clear();
    FRewrite.reset();
  }
  Flush();
  // The writer is idle now and stays so: nothing appends after the end.
  if (FFd >= 0) {
    ::unlink(QFile::encodeName(FPath).constData());
    ::close(std::exchange(FFd, -1));
  }
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
