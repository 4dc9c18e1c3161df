#include "record/Journal.h"

#include "base/NumberFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calorix {
namespace {

static_assert(std::endian::native == std::endian::little, "the journal is written little-endian");

constexpr char kMagic[8] = {'C', 'L', 'X', 'J', 'R', 'N', 'L', '\0'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeader = TRecordJournal::kHeaderSize;
constexpr std::size_t kEntry = TRecordJournal::kEntrySize;
// Samples copied per hold of the data mutex, so Append never waits long.
constexpr std::size_t kBatch = 8192;

std::uint64_t Fnv1a(const unsigned char* p, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

void EncodeEntry(const TSample& s, unsigned char* out) {
  std::memcpy(out, &s.Time, 8);
  std::memcpy(out + 8, &s.Value, 8);
  const std::uint64_t sum = Fnv1a(out, 16);
  std::memcpy(out + 16, &sum, 8);
}

bool DecodeEntry(const unsigned char* in, TSample& s) {
  std::uint64_t sum;
  std::memcpy(&sum, in + 16, 8);
  if (sum != Fnv1a(in, 16))
    return false;
  std::memcpy(&s.Time, in, 8);
  std::memcpy(&s.Value, in + 8, 8);
  return true;
}

std::array<unsigned char, kHeader> Header() {
  std::array<unsigned char, kHeader> h{};
  std::memcpy(h.data(), kMagic, 8);
  const std::uint32_t version = kVersion, entry = kEntry;
  std::memcpy(h.data() + 8, &version, 4);
  std::memcpy(h.data() + 12, &entry, 4);
  return h;
}

QString Reason(int error) {
  switch (error) {
    case ENOSPC:
      return QCoreApplication::translate("calorix", "нет места на диске");
    case EDQUOT:
      return QCoreApplication::translate("calorix", "превышена дисковая квота");
    case EROFS:
    case EACCES:
    case EPERM:
      return QCoreApplication::translate("calorix", "нет доступа к папке");
    case EFBIG:
      return QCoreApplication::translate("calorix", "слишком большой файл");
    case EIO:
      return QCoreApplication::translate("calorix", "ошибка ввода-вывода");
    default:
      return QString::fromStdString(std::generic_category().message(error));
  }
}

// Closes the descriptor on every path out.
struct TFd {
  int Fd = -1;
  explicit TFd(int fd) : Fd(fd) {}
  ~TFd() {
    if (Fd >= 0)
      ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
};

// Writes all of it through the injected writer (or pwrite); 0 or the errno.
int WriteAll(const TJournalOptions& options, int fd, const unsigned char* data, std::size_t size,
             off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const off_t pos = offset + static_cast<off_t>(done);
    errno = 0;
    const ssize_t w = options.Write ? options.Write(fd, data + done, size - done, pos)
                                    : ::pwrite(fd, data + done, size - done, pos);
    if (w < 0 && errno == EINTR)
      continue;
    if (w < 0)
      return errno ? errno : EIO;
    if (w == 0)
      return ENOSPC;  // no progress: a full disk says so this way too
    done += static_cast<std::size_t>(w);
  }
  return 0;
}

// Reads the entries of an open journal; stops at the first damaged one.
// Without `out` the entries are only counted (and their largest time kept).
struct TScan {
  std::size_t Count = 0;
  double Length = 0.0;
  std::size_t Unreadable = 0;
  std::uint64_t UnreadableBytes = 0;
  QString Error;
};

TScan ScanJournal(int fd, std::vector<TSample>* out) {
  TScan r;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    r.Error = QCoreApplication::translate("calorix", "не обычный файл");
    return r;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  auto lost = [&](std::uint64_t from) {
    r.UnreadableBytes = size > from ? size - from : 0;
    r.Unreadable = static_cast<std::size_t>((r.UnreadableBytes + kEntry - 1) / kEntry);
  };
  std::array<unsigned char, kHeader> head{};
  if (size < kHeader || ::pread(fd, head.data(), kHeader, 0) != static_cast<ssize_t>(kHeader) ||
      head != Header()) {
    lost(0);
    return r;
  }
  if (out)
    out->reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>((size - kHeader) / kEntry, std::uint64_t{1} << 28)));
  // Big reads; a read that ends inside an entry keeps the piece for the next.
  std::vector<unsigned char> buf(kEntry * 43690);  // about 1 MB
  std::size_t carry = 0;
  std::uint64_t offset = kHeader;  // of the next byte to read
  for (;;) {
    ssize_t got;
    do {
      got = ::pread(fd, buf.data() + carry, buf.size() - carry, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
      break;  // the end, or a read error: what came so far stands
    offset += static_cast<std::uint64_t>(got);
    const std::size_t have = carry + static_cast<std::size_t>(got);
    const std::size_t whole = have / kEntry;
    for (std::size_t i = 0; i < whole; ++i) {
      TSample s;
      if (!DecodeEntry(buf.data() + i * kEntry, s)) {
        lost(kHeader + std::uint64_t{r.Count} * kEntry);
        return r;
      }
      ++r.Count;
      if (std::isfinite(s.Time))
        r.Length = std::max(r.Length, s.Time);
      if (out)
        out->push_back(s);
    }
    carry = have - whole * kEntry;
    std::memmove(buf.data(), buf.data() + whole * kEntry, carry);
  }
  lost(kHeader + std::uint64_t{r.Count} * kEntry);  // a torn last entry counts
  return r;
}

}  // namespace

int OpenAbandoned(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

namespace {

// Copies `size` bytes at `offset` from one file to the same place in
// another, a block at a time, in the kernel where it can; keepOn() is asked
// before each block. 0, the errno, or -1 when keepOn() said to stop.
template <class F>
int CopyRange(const TJournalOptions& options, int from, int to, std::uint64_t offset,
              std::uint64_t size, F keepOn) {
  constexpr std::size_t kBlock = std::size_t{8} << 20;
  bool inKernel = !options.Write;  // a test's writer must see every byte
  std::vector<unsigned char> buf;
  std::uint64_t done = 0;
  while (done < size) {
    if (!keepOn())
      return -1;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, kBlock));
    const off_t at = static_cast<off_t>(offset + done);
    if (inKernel) {
      loff_t in = at, out = at;
      const ssize_t c = ::copy_file_range(from, &in, to, &out, n, 0);
      if (c > 0) {
        done += static_cast<std::uint64_t>(c);
        continue;
      }
      if (c < 0 && errno == EINTR)
        continue;
      if (c == 0)
        return EIO;  // the source ended early
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
      inKernel = false;  // not here: through memory
    }
    buf.resize(std::min<std::size_t>(n, std::size_t{1} << 20));
    ssize_t got;
    do {
      got = ::pread(from, buf.data(), buf.size(), at);
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
      return got < 0 ? errno : EIO;
    if (const int e = WriteAll(options, to, buf.data(), static_cast<std::size_t>(got), at))
      return e;
    done += static_cast<std::uint64_t>(got);
  }
  return 0;
}

}  // namespace

TRecordJournal::TRecordJournal(QString folder, TJournalOptions options)
    : FFolder(std::move(folder)), FOptions(std::move(options)) {
  FWriter = std::thread([this] { WriterLoop(); });
}

TRecordJournal::~TRecordJournal() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FWake.notify_all();
  if (FWriter.joinable())
    FWriter.join();
  std::lock_guard io(FIoMutex);
  WriteOut(true, false);
  if (FFd >= 0)
    ::close(FFd);  // releases the lock; a named file stays for the next start
}

void TRecordJournal::SetOnWriteError(std::function<void(const QString&)> callback) {
  std::lock_guard io(FIoMutex);
  FOnWriteError = std::move(callback);
}

void TRecordJournal::Append(double time, double value) {
  std::lock_guard lock(FMutex);
  if (FFailed || FClosed)
    return;
  FTail.push_back({time, value});
  FUnsaved = true;
}

void TRecordJournal::Reset(std::vector<TSample> samples) {
  std::deque<TSample> fresh(samples.begin(), samples.end());
  samples = {};
  ResetTo(std::move(fresh));
}

void TRecordJournal::Reset(const TMeasurementRecord& record) {
  std::deque<TSample> fresh;
  for (std::size_t i = 0; i < record.Count(); ++i)
    fresh.push_back(record[i]);
  ResetTo(std::move(fresh));
}

void TRecordJournal::ResetTo(std::deque<TSample> samples) {
  {
    std::lock_guard lock(FMutex);
    if (FClosed)
      return;
    FTail.swap(samples);
    FStored = 0;
    ++FGeneration;
    FRewrite = true;
    FFailed = false;
    FKick = true;
  }
  FWake.notify_all();
  // The old samples are freed here, outside the lock.
}

void TRecordJournal::Flush() {
  std::lock_guard io(FIoMutex);
  WriteOut(true);
}

void TRecordJournal::MarkSaved() {
  {
    // Said before waiting for the disk: a writer busy with a big record (a
    // file just loaded, a copy) steps aside after its current batch.
    std::lock_guard lock(FMutex);
    FUnsaved = false;
    ++FSaveWaiting;
  }
  std::lock_guard io(FIoMutex);
  {
    std::lock_guard lock(FMutex);
    --FSaveWaiting;
  }
  UnlinkName();
}

void TRecordJournal::WriteSoon() {
  {
    std::lock_guard lock(FMutex);
    FKick = true;
  }
  FWake.notify_all();
}

void TRecordJournal::MarkUnsaved() {
  {
    std::lock_guard lock(FMutex);
    if (FClosed)
      return;
    FUnsaved = true;
    FKick = true;
  }
  FWake.notify_all();
}

void TRecordJournal::Close() {
  std::deque<TSample> old;
  {
    std::lock_guard lock(FMutex);
    FStop = true;
    FClosed = true;
    FUnsaved = false;
    FTail.swap(old);
    FStored = 0;
    ++FGeneration;
  }
  FWake.notify_all();
  old = {};
  if (FWriter.joinable())
    FWriter.join();
  std::lock_guard io(FIoMutex);
  RemoveFile();
}

QString TRecordJournal::Path() const {
  std::lock_guard io(FIoMutex);
  return FPath;
}

bool TRecordJournal::Failed() const {
  std::lock_guard lock(FMutex);
  return FFailed;
}

void TRecordJournal::WriterLoop() {
  const auto period = std::chrono::milliseconds(FOptions.PeriodMs > 0 ? FOptions.PeriodMs : 5000);
  std::unique_lock lock(FMutex);
  // Periods run from the start of one write to the start of the next: a slow
  // disk must not stretch the time a sample waits for it.
  auto next = std::chrono::steady_clock::now() + period;
  while (!FStop) {
    FWake.wait_until(lock, next, [this] { return FStop || FKick; });
    if (FStop)
      break;
    FKick = false;
    next = std::chrono::steady_clock::now() + period;
    lock.unlock();
    bool done;
    {
      std::lock_guard io(FIoMutex);
      done = WriteOut(true);
    }
    lock.lock();
    // Stepped aside for a MarkSaved: the rest soon after, not a period later.
    if (!done)
      next = std::min(next, std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
  }
}

bool TRecordJournal::WriteOut(bool sync, bool keepSaved) {
  // Touched before the data lock is taken: page faults of a fresh buffer
  // must not make Append wait.
  std::vector<TSample> batch(kBatch);
  std::vector<unsigned char> buf;
  bool wrote = false;  // into a named file, which then needs the sync
  for (;;) {
    std::uint64_t generation = 0;
    std::size_t from = 0, count = 0;
    bool unsaved = false, rewrite = false, empty = false;
    {
      std::lock_guard lock(FMutex);
      if (FFailed)
        return true;
      unsaved = FUnsaved;
      if (FRewrite) {
        FRewrite = false;
        rewrite = FFd >= 0;  // a Reset: what the file holds is void
      }
      empty = FStored == 0 && FTail.empty();
      if (!unsaved && !rewrite && !FTail.empty()) {
        // Samples of a saved record go to the file only to leave memory.
        if (FSaveWaiting > 0)
          return false;
        if (!keepSaved)
          return true;
      }
      generation = FGeneration;
      from = FStored;
      if (!rewrite && !empty) {
        count = std::min(FTail.size(), kBatch);
        std::copy_n(FTail.begin(), count, batch.begin());
      }
    }
    if (rewrite) {
      // Outside the data lock: cutting a big file back takes a while.
      if (::ftruncate(FFd, static_cast<off_t>(kHeader)) != 0)
        RemoveFile();  // cannot cut it back: start a new file
      continue;
    }
    if (empty) {
      RemoveFile();  // nothing to keep, e.g. Reset({}) of an unsaved record
      break;
    }
    if (!unsaved) {
      UnlinkName();
    } else if (FPath.isEmpty()) {
      // An unsaved record has a name on disk that holds all of it.
      const TOpen opened = OpenNamed(generation, from);
      if (opened == TOpen::Failed)
        return true;
      wrote = wrote || opened == TOpen::Done;
      continue;
    }
    if (count == 0)
      break;
    if (FFd < 0 && !OpenUnnamed())
      return true;
    // Encoded outside the lock: Append must not wait for the checksums.
    buf.resize(count * kEntry);
    for (std::size_t i = 0; i < count; ++i)
      EncodeEntry(batch[i], buf.data() + i * kEntry);
    const int error = WriteAll(FOptions, FFd, buf.data(), buf.size(),
                               static_cast<off_t>(kHeader + from * kEntry));
    if (error != 0) {
      Fail(error);
      return true;
    }
    wrote = wrote || !FPath.isEmpty();
    bool drained = false;
    {
      std::lock_guard lock(FMutex);
      if (FGeneration == generation && FStored == from) {
        FStored = from + count;
        FTail.erase(FTail.begin(), FTail.begin() + static_cast<std::ptrdiff_t>(count));
        FDrained += count;
        drained = FTail.empty() && FDrained >= kBatch;
      }
    }
    if (drained) {
      // A deque keeps the map of its longest length: after a big record
      // went out, a fresh one, made and freed outside the lock.
      std::deque<TSample> fresh;
      {
        std::lock_guard lock(FMutex);
        if (FTail.empty()) {
          FTail.swap(fresh);
          FDrained = 0;
        }
      }
    }
  }
  if (wrote && sync && FFd >= 0 && !FPath.isEmpty() && ::fdatasync(FFd) != 0 && errno != EINVAL)
    Fail(errno);
  return true;
}

QString TRecordJournal::EventsPath() const {
  return BaseName() + QStringLiteral(".events");
}

QString TRecordJournal::BaseName() const {
  const QString owner = FOptions.Owner.isEmpty()
                            ? QString::number(QCoreApplication::applicationPid())
                            : FOptions.Owner;
  return QDir(FFolder).filePath(QStringLiteral("record-") + owner);
}

TRecordJournal::TOpen TRecordJournal::OpenNamed(std::uint64_t generation, std::size_t count) {
  if (!QDir().mkpath(FFolder)) {
    Fail(EACCES);
    return TOpen::Failed;
  }
  // Built under a temporary name and locked before it gets its real one, so
  // a program starting meanwhile never takes it for an abandoned journal.
  const QString base = BaseName();
  const QByteArray temp = QFile::encodeName(base + QStringLiteral(".journal.new"));
  TFd fd(-1);
  for (int attempt = 0;; ++attempt) {
    ::unlink(temp.constData());
    fd.Fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd.Fd < 0) {
      Fail(errno);
      return TOpen::Failed;
    }
    // Until the lock is ours, a program starting meanwhile may take the
    // empty file for one left by a crash and remove it (holding its lock
    // while it does): then the name is no longer ours, and we start anew.
    int locked;
    do {
      locked = ::flock(fd.Fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      Fail(errno);
      return TOpen::Failed;
    }
    struct stat mine {
    }, named{};
    if (::fstat(fd.Fd, &mine) == 0 && ::stat(temp.constData(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
      break;
    ::close(std::exchange(fd.Fd, -1));
    if (attempt == 100) {
      Fail(EAGAIN);
      return TOpen::Failed;
    }
  }
  int error = 0;
  if (count > 0) {
    // The saved part of the record, from the file that kept it; given up
    // when the record is saved or replaced meanwhile.
    error = CopyRange(FOptions, FFd, fd.Fd, kHeader, std::uint64_t{count} * kEntry, [&] {
      std::lock_guard lock(FMutex);
      return FUnsaved && FGeneration == generation;
    });
  }
  // The header last: a copy cut short by a crash has none, so the next start
  // tells it from a whole one (see FindAbandoned).
  const auto head = Header();
  if (error == 0)
    error = WriteAll(FOptions, fd.Fd, head.data(), head.size(), 0);
  if (error != 0) {
    ::unlink(temp.constData());
    if (error < 0)
      return TOpen::Again;
    Fail(error);
    return TOpen::Failed;
  }
  // An earlier program with the same id may have left its journal: keep it.
  QString path;
  for (int n = 1;; ++n) {
    path = base + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".journal");
    const QByteArray name = QFile::encodeName(path);
    int done =
        ::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE);
    if (done != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without RENAME_NOREPLACE: a hard link never replaces either.
      done = ::link(temp.constData(), name.constData());
      if (done == 0)
        ::unlink(temp.constData());
    }
    if (done == 0)
      break;
    if (errno != EEXIST || n > 1000) {
      const int e = errno;
      ::unlink(temp.constData());
      Fail(e);
      return TOpen::Failed;
    }
  }
  const QByteArray dir = QFile::encodeName(FFolder);
  TFd d(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.Fd >= 0)
    ::fsync(d.Fd);  // the name survives a power cut too
  if (FFd >= 0)
    ::close(FFd);  // the unnamed copy: its content is in the new file now
  FFd = std::exchange(fd.Fd, -1);
  FPath = path;
  return TOpen::Done;
}

bool TRecordJournal::OpenUnnamed() {
  if (!QDir().mkpath(FFolder)) {
    Fail(EACCES);
    return false;
  }
  // Beside the journal, so that the copy into a named one stays within the
  // file system (and its quota).
  const QByteArray dir = QFile::encodeName(FFolder);
  int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a name for a moment.
    const QByteArray temp = QFile::encodeName(BaseName() + QStringLiteral(".journal.tmp"));
    ::unlink(temp.constData());
    fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
      ::unlink(temp.constData());
  }
  if (fd < 0) {
    Fail(errno);
    return false;
  }
  // The same layout as a journal, so its entries copy to the same place.
  const auto head = Header();
  const int error = WriteAll(FOptions, fd, head.data(), head.size(), 0);
  if (error != 0) {
    ::close(fd);
    Fail(error);
    return false;
  }
  FFd = fd;
  FPath.clear();
  return true;
}

void TRecordJournal::UnlinkName() {
  if (FPath.isEmpty())
    return;
  ::unlink(QFile::encodeName(FPath).constData());
  FPath.clear();
}

void TRecordJournal::RemoveFile() {
  UnlinkName();
  if (FFd >= 0)
    ::close(FFd);
  FFd = -1;
  std::lock_guard lock(FMutex);
  FStored = 0;
}

void TRecordJournal::Fail(int error) {
  std::deque<TSample> copy;
  {
    std::lock_guard lock(FMutex);
    FFailed = true;
    // The record itself is still in the window; the journal lets go of its
    // samples rather than grow without a file behind them.
    FTail.swap(copy);
    FStored = 0;
    ++FGeneration;
  }
  if (FFd >= 0 && FPath.isEmpty()) {
    ::close(FFd);  // an unnamed file is of no use now
    FFd = -1;
  }
  copy = {};  // freed outside the lock: Append must not wait for it
  if (FOnWriteError)
    FOnWriteError(QCoreApplication::translate("calorix", "Не удалось записать журнал записи: ") +
                  Reason(error));
}

std::vector<TJournalFound> TRecordJournal::FindAbandoned(const QString& folder) {
  std::vector<TJournalFound> found;
  // "*.journal.new": a copy its owner was making when it ended (see
  // OpenNamed). With its header it is whole, the newest copy of that owner's
  // record (the owner had no other name while it was made), and is offered
  // like a journal; without one the copy was cut short, and it goes.
  const QStringList names = QDir(folder).entryList(
      {QStringLiteral("record-*.journal"), QStringLiteral("record-*.journal.new")}, QDir::Files,
      QDir::Name);
  for (const QString& name : names) {
    const QString path = QDir(folder).filePath(name);
    TFd fd(OpenAbandoned(path));
    if (fd.Fd < 0)
      continue;  // its owner runs, or it is gone
    const TScan r = ScanJournal(fd.Fd, nullptr);
    if (!r.Error.isEmpty())
      continue;
    const bool copy = name.endsWith(QStringLiteral(".new"));
    if (r.Count == 0 && (r.Unreadable == 0 || copy)) {
      // Nothing to offer; removed while its lock is held.
      ::unlink(QFile::encodeName(path).constData());
      continue;
    }
    TJournalFound f;
    f.Path = path;
    f.Count = r.Count;
    f.Length = r.Length;
    f.Unreadable = r.Unreadable;
    found.push_back(std::move(f));
  }
  return found;
}

TJournalRestore TRecordJournal::Restore(const QString& path) {
  TJournalRestore r;
  const QByteArray name = QFile::encodeName(path);
  TFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.Fd < 0) {
    r.Error = Reason(errno);
    return r;
  }
  const TScan scan = ScanJournal(fd.Fd, &r.Samples);
  r.Unreadable = scan.Unreadable;
  r.UnreadableBytes = scan.UnreadableBytes;
  r.Error = scan.Error;
  return r;
}

bool TRecordJournal::Discard(const QString& path) {
  TFd fd(OpenAbandoned(path));
  if (fd.Fd < 0)
    return errno == ENOENT;
  return ::unlink(QFile::encodeName(path).constData()) == 0;
}

QString RestoreQuestion(std::size_t count, double lengthDays, std::size_t unreadable,
                        const QString& serial) {
  const std::size_t mod100 = count % 100, mod10 = count % 10;
  // The Russian noun by the Russian rule; a translation picks its own form by the count.
  const char* noun = (mod100 >= 11 && mod100 <= 14) ? QT_TRANSLATE_N_NOOP("calorix", "измерений")
                     : mod10 == 1 ? QT_TRANSLATE_N_NOOP("calorix", "измерение")
                     : (mod10 >= 2 && mod10 <= 4) ? QT_TRANSLATE_N_NOOP("calorix", "измерения")
                                                  : QT_TRANSLATE_N_NOOP("calorix", "измерений");
  QString text =
      (serial.isEmpty()
           ? QCoreApplication::translate("calorix",
                                         "Найдена незавершенная запись: %1 %2 за %3. Восстановить?")
           : QCoreApplication::translate(
                 "calorix",
                 "Найдена незавершенная запись термостата %4: %1 %2 за %3. Восстановить?")
                 .replace(QStringLiteral("%4"), serial))
          .arg(count)
          .arg(QCoreApplication::translate("calorix", noun, nullptr, int(count)))
          .arg(FormatElapsed(lengthDays, TFormatSettings::FromLocale(QLocale::system())));
  if (unreadable > 0)
    text += QCoreApplication::translate("calorix", " Не удалось прочитать: %1.").arg(unreadable);
  return text;
}

}  // namespace calorix
