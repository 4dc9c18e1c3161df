#include "record/DataFile.h"

#include "base/Messages.h"
#include "base/Timer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calorix {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

QString Reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

// The byte offset just past the last line end of the file, or -1 on a read error.
off_t LastLineEnd(int fd, off_t size) {
  char buffer[65536];
  off_t end = size;
  while (end > 0) {
    const off_t start = std::max<off_t>(0, end - off_t(sizeof buffer));
    const ssize_t got = ::pread(fd, buffer, std::size_t(end - start), start);
    if (got < 0 && errno == EINTR)
      continue;
    if (got != end - start)
      return -1;
    for (ssize_t i = got; i > 0; --i) {
      if (buffer[i - 1] == '\n')
        return start + i;
    }
    end = start;
  }
  return 0;
}

}  // namespace

QString DataFileName(const QString& serial) {
  QString name = QString::fromLatin1(serial.toUtf8().toPercentEncoding("#_-.~+=@!$&()[]{},;:'^`"));
  // Never "." or "..": a folder of its own inside the data folder.
  if (name.startsWith(QLatin1Char('.')))
    name.replace(0, 1, QStringLiteral("%2E"));
  return name;
}

TDataFile::TDataFile(TDataFileOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options)) {
  FTimer = new TTimer(this, FOptions.PeriodMs > 0 ? FOptions.PeriodMs : 5000);
  FTimer->setObjectName(QStringLiteral("DataFileTimer"));
  FTimer->OnTimer = [this] { WriteOut(true); };
  FTimer->SetEnabled(true);
}

TDataFile::~TDataFile() {
  Finish();
  CloseFile();
}

std::size_t TDataFile::Waiting() const {
  std::size_t n = 0;
  for (const TSegment& s : FSegments)
    n += s.Samples.size();
  return n;
}

void TDataFile::Append(double time, double value) {
  if (!FOpenSegment || FSegments.empty() || time >= FSegments.back().Start + kFileDays) {
    // The next day of a file counts from its first sample's day: the files of
    // one run are whole days of record, one after another.
    const double start =
        FOpenSegment && !FSegments.empty()
            ? FSegments.back().Start +
                  kFileDays * std::floor((time - FSegments.back().Start) / kFileDays)
            : time;
    if (!FSegments.empty())
      FSegments.back().Finished = true;
    TSegment s;
    s.Id = FNextId++;
    const QDateTime now = FOptions.UtcNow ? FOptions.UtcNow() : QDateTime::currentDateTimeUtc();
    s.Stamp = now.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    s.StartUtcMs = now.toMSecsSinceEpoch();
    s.Start = start;
    s.Events = std::exchange(FNextEvents, {});
    s.MetaDue = bool(FOptions.Meta);  // written with the file
    FSegments.push_back(std::move(s));
    FOpenSegment = true;
    FPath = QDir(FOptions.Folder)
                .filePath(DataFileName(FOptions.Serial) + QLatin1Char('_') +
                          FSegments.back().Stamp + QStringLiteral(".csv"));
  }
  FSegments.back().Samples.push_back({time, value});
  ++FSegments.back().Count;
}

void TDataFile::AddEvent(const TEvent& event) {
  if (!FOptions.Meta)
    return;
  if (!FOpenSegment || FSegments.empty()) {
    FNextEvents.push_back(event);
    return;
  }
  TSegment& s = FSegments.back();
  s.Events.push_back(event);
  s.MetaDue = true;
  if (!s.Path.isEmpty())
    WriteMeta(s);  // otherwise with the file
}

bool TDataFile::WriteMeta(TSegment& s) {
  TRunMeta meta = FOptions.Meta();
  meta.StartUtcMs = s.StartUtcMs;
  meta.Samples = s.Count - std::int64_t(s.Samples.size());  // those in the file
  meta.CsvSha256 = s.Sha256;
  meta.Events = s.Events;
  const QString error = WriteSidecar(s.Path, meta);
  if (!error.isEmpty()) {
    Fail(error);
    return false;
  }
  s.MetaDue = false;
  return true;
}

void TDataFile::Flush() {
  WriteOut(true);
}

void TDataFile::Finish() {
  if (!FSegments.empty())
    FSegments.back().Finished = true;
  FOpenSegment = false;
  WriteOut(true);
}

void TDataFile::WriteOut(bool sync) {
  while (!FSegments.empty()) {
    TSegment& s = FSegments.front();
    if (!s.Closed) {
      if (FFd < 0 || FFdSegment != s.Id) {
        if (s.Samples.empty() && s.Finished) {  // nothing for that file
          FSegments.pop_front();
          continue;
        }
        if (FFd >= 0 && (!Sync() || (CloseFile(), false)))
          return;
        if (!Open(s))
          return;
        s.Path = FPath;
      }
      if (!s.Samples.empty()) {
        if (!WriteBytes(FormatMeasurementFile(s.Samples, FOptions.Format)))
          return;
        s.Samples.clear();
        s.Samples.shrink_to_fit();
      }
      if (!s.Finished) {
        if (s.MetaDue && !WriteMeta(s))
          return;
        break;
      }
      if (!Sync())
        return;
      CloseFile();
      s.Closed = true;
      if (FOptions.Meta) {  // the checksum of the bytes on the disk, once they are all there
        s.Sha256 = FileSha256(s.Path);
        s.MetaDue = true;
      }
    }
    if (s.MetaDue && !WriteMeta(s))
      return;
    FSegments.pop_front();
  }
  if (sync && FUnsynced && !Sync())
    return;
  Recovered();
}

bool TDataFile::Open(const TSegment& segment) {
  if (!QDir().mkpath(FOptions.Folder)) {
    // mkpath does not say why; the folder's own mkdir does.
    const int error = ::mkdir(Native(FOptions.Folder).constData(), 0755) != 0 ? errno : EACCES;
    Fail(FOptions.Folder, error);
    return false;
  }
  if (!FFolderChecked) {
    FFolderChecked = true;
    for (const QString& text : CutTornLines(FOptions.Folder))
      emit Log(text);
  }
  // A file of the same second (a stop and start, a restart) is never added
  // to: the next free name with "-2", "-3", ... is taken instead.
  const QString base =
      QDir(FOptions.Folder)
          .filePath(DataFileName(FOptions.Serial) + QLatin1Char('_') + segment.Stamp);
  for (int n = 1;; ++n) {
    const QString path =
        base + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".csv");
    const int fd = ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      FFd = fd;
      FFdSegment = segment.Id;
      FSize = 0;
      FTorn = false;
      FUnsynced = true;  // the new name is synced with the first samples
      FPath = path;
      return true;
    }
    if (errno != EEXIST || n >= 1000) {
      Fail(path, errno);
      return false;
    }
  }
}

bool TDataFile::WriteBytes(QByteArray bytes) {
  if (FSize > 0 && bytes.startsWith(kUtf8Bom))
    bytes.remove(0, 3);  // a byte-order mark begins the file only
  if (FTorn) {
    if (::ftruncate(FFd, FSize) != 0) {
      Fail(FPath, errno);
      return false;
    }
    FTorn = false;
  }
  std::size_t done = 0;
  const std::size_t size = std::size_t(bytes.size());
  while (done < size) {
    const off_t at = FSize + off_t(done);
    errno = 0;
    const ssize_t w = FOptions.Write
                          ? FOptions.Write(FFd, bytes.constData() + done, size - done, at)
                          : ::pwrite(FFd, bytes.constData() + done, size - done, at);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      const int error = w < 0 && errno ? errno : ENOSPC;  // no progress: a full disk
      // Part of a line must not stay: cut back to the whole lines.
      FTorn = done > 0 || w < 0;
      if (FTorn && ::ftruncate(FFd, FSize) == 0)
        FTorn = false;
      Fail(FPath, error);
      return false;
    }
    done += std::size_t(w);
  }
  FSize += off_t(size);
  FUnsynced = true;
  return true;
}

bool TDataFile::Sync() {
  if (FFd < 0 || !FUnsynced)
    return true;
  if (::fdatasync(FFd) != 0) {
    Fail(FPath, errno);
    return false;
  }
  FUnsynced = false;
  return true;
}

void TDataFile::CloseFile() {
  if (FFd >= 0)
    ::close(FFd);
  FFd = -1;
  FFdSegment = 0;
}

void TDataFile::Fail(const QString& path, int error) {
  Fail(LoadStr(1180).arg(QDir::toNativeSeparators(path), Reason(error)));
}

void TDataFile::Fail(const QString& text) {
  FError = text;
  if (FFailed)
    return;
  FFailed = true;
  emit Log(FError);
  emit FailedChanged(true);
}

void TDataFile::Recovered() {
  if (!FFailed)
    return;
  FFailed = false;
  FError.clear();
  emit Log(LoadStr(1181).arg(QDir::toNativeSeparators(FPath)));
  emit FailedChanged(false);
}

QStringList TDataFile::CutTornLines(const QString& folder) {
  QStringList texts;
  const QDir dir(folder);
  for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name)) {
    const QString path = dir.filePath(name);
    const int fd = ::open(Native(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      texts << LoadStr(1183).arg(QDir::toNativeSeparators(path), Reason(errno));
      continue;
    }
    struct stat st {};
    int error = 0;
    off_t end = 0;
    if (::fstat(fd, &st) != 0) {
      error = errno;
    } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
      end = LastLineEnd(fd, st.st_size);
      if (end < 0)
        error = errno ? errno : EIO;
      else if (end < st.st_size && (::ftruncate(fd, end) != 0 || ::fdatasync(fd) != 0))
        error = errno;
      else if (end < st.st_size)
        texts << LoadStr(1182).arg(QDir::toNativeSeparators(path)).arg(st.st_size - end);
    }
    if (error)
      texts << LoadStr(1183).arg(QDir::toNativeSeparators(path), Reason(error));
    ::close(fd);
  }
  return texts;
}

}  // namespace calorix
