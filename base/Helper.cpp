#include "base/Helper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

namespace calorix {

QString IniFileNameFor(const QString& programFolder, const QString& configFolder) {
  // Beside the executable, as the program has always kept it. An installed
  // program's folder is not the user's: the user's configuration folder takes
  // its place there, also for root, who could write into it, and wherever the
  // folder cannot be written.
  static const QStringList systemFolders = {
      QStringLiteral("/usr/bin"),  QStringLiteral("/usr/local/bin"),  QStringLiteral("/bin"),
      QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")};
  const QString dir = QDir::cleanPath(programFolder);
  const QString beside = dir + QStringLiteral("/Calorix.ini");
  const QFileInfo file(beside);
  if (!systemFolders.contains(dir) &&
      (file.exists() ? file.isWritable() : QFileInfo(dir).isWritable()))
    return beside;
  QDir().mkpath(configFolder);
  return configFolder + QStringLiteral("/Calorix.ini");
}

QString IniFileName() {
  return IniFileNameFor(QCoreApplication::applicationDirPath(),
                        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString JournalFolder() {
  // The XDG state folder: what the program leaves behind for its next start,
  // neither configuration nor the user's documents.
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || QDir::isRelativePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QLatin1Char('/') + QCoreApplication::applicationName();
#else
  return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#endif
}

void TCommandHistory::Add(const QString& line) {
  if (FItems.size() >= kCapacity)
    FItems.removeLast();
  FItems.prepend(line);
  FCursor = 0;
}

QString TCommandHistory::Up() {
  if (FItems.isEmpty())
    return {};
  const QString result = FItems.at(FCursor);
  FCursor = FCursor + 1 == FItems.size() ? 0 : FCursor + 1;
  return result;
}

QString TCommandHistory::Down() {
  if (FItems.isEmpty())
    return {};
  const QString result = FItems.at(FCursor);
  FCursor = FCursor == 0 ? int(FItems.size()) - 1 : FCursor - 1;
  return result;
}

bool PollTimeKeyAccepted(QChar key) {
  return (key >= u'0' && key <= u'9') || key == QChar(8);
}

int PollTimeFromText(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Digits beyond the upper limit cannot change the result any more.
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i].unicode() - u'0'), kMaxPollTime + 1LL);
  }
  if (negative)
    value = -value;
  return int(std::clamp<long long>(value, kMinPollTime, kMaxPollTime));
}

int ClampPollTime(int ms) {
  return std::max(ms, kMinPollTime);
}

}  // namespace calorix
