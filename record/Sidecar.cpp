#include "record/Sidecar.h"

#include "record/MeasurementFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace calorix {
namespace {

const QString kFormat = QStringLiteral("calorix-record");
constexpr int kVersion = 1;
// A sidecar is a few hundred bytes per event: beyond this it is not ours.
constexpr qint64 kMaxSidecar = 256LL << 20;

}  // namespace

QString SidecarPath(const QString& measurementPath) {
  const QFileInfo info(measurementPath);
  const QString name = info.fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString base = dot > 0 ? name.left(dot) : name;
  const QString folder = measurementPath.left(measurementPath.size() - name.size());
  return folder + base + QStringLiteral(".meta.json");
}

QString Sha256Hex(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString FileSha256(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file))
    return {};
  return QString::fromLatin1(hash.result().toHex());
}

QByteArray SidecarJson(const TRunMeta& meta) {
  QJsonObject o;
  o[QStringLiteral("format")] = kFormat;
  o[QStringLiteral("version")] = kVersion;
  o[QStringLiteral("software")] = meta.Software;
  o[QStringLiteral("thermostat")] =
      QJsonObject{{QStringLiteral("serial"), meta.Serial},
                  {QStringLiteral("product"), meta.Product},
                  {QStringLiteral("manufacturer"), meta.Manufacturer}};
  o[QStringLiteral("start")] =
      meta.StartUtcMs ? QJsonValue(UtcIsoMs(*meta.StartUtcMs)) : QJsonValue();
  o[QStringLiteral("poll_ms")] = meta.PollMs;
  o[QStringLiteral("samples")] = qint64(meta.Samples);
  o[QStringLiteral("csv_sha256")] =
      meta.CsvSha256.isEmpty() ? QJsonValue() : QJsonValue(meta.CsvSha256);
  QJsonArray events;
  for (const TEvent& e : meta.Events)
    events.append(EventToJson(e));
  o[QStringLiteral("events")] = events;
  return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QString WriteSidecar(const QString& measurementPath, const TRunMeta& meta) {
  return SaveFileBytes(SidecarPath(measurementPath), SidecarJson(meta));
}

TSidecarRead ReadSidecar(const QString& measurementPath) {
  TSidecarRead r;
  const QString path = SidecarPath(measurementPath);
  QFile file(path);
  if (!QFileInfo(path).isFile())
    return r;
  r.State = TSidecarRead::TState::Damaged;
  if (file.size() > kMaxSidecar) {
    r.Error = QStringLiteral("%1: too large for a metadata file").arg(path);
    return r;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    r.Error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return r;
  }
  QJsonParseError parse;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
  if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
    r.Error = QStringLiteral("%1: not JSON (%2)").arg(path, parse.errorString());
    return r;
  }
  const QJsonObject o = doc.object();
  if (o.value(QStringLiteral("format")).toString() != kFormat ||
      o.value(QStringLiteral("version")).toInt(-1) != kVersion) {
    r.Error =
        QStringLiteral("%1: not a Calorix metadata file of version %2").arg(path).arg(kVersion);
    return r;
  }
  TRunMeta& m = r.Meta;
  m.Software = o.value(QStringLiteral("software")).toString();
  const QJsonObject t = o.value(QStringLiteral("thermostat")).toObject();
  m.Serial = t.value(QStringLiteral("serial")).toString();
  m.Product = t.value(QStringLiteral("product")).toString();
  m.Manufacturer = t.value(QStringLiteral("manufacturer")).toString();
  const QDateTime start =
      QDateTime::fromString(o.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs);
  if (start.isValid())
    m.StartUtcMs = start.toMSecsSinceEpoch();
  m.PollMs = o.value(QStringLiteral("poll_ms")).toInt(1000);
  m.Samples = o.value(QStringLiteral("samples")).toInteger();
  const QJsonValue sha = o.value(QStringLiteral("csv_sha256"));
  static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
  if (!sha.isNull() && !(sha.isString() && hex.match(sha.toString()).hasMatch())) {
    r.Error = QStringLiteral("%1: the checksum is not a SHA-256").arg(path);
    return r;
  }
  m.CsvSha256 = sha.toString();
  const QJsonValue events = o.value(QStringLiteral("events"));
  if (!events.isArray()) {
    r.Error = QStringLiteral("%1: no list of events").arg(path);
    return r;
  }
  for (const QJsonValue& v : events.toArray()) {
    const auto e = EventFromJson(v.toObject());
    if (!e) {
      r.Error = QStringLiteral("%1: event %2 is damaged").arg(path).arg(m.Events.size() + 1);
      return r;
    }
    m.Events.push_back(*e);
  }
  r.State = TSidecarRead::TState::Ok;
  r.ChecksumMatches = m.CsvSha256.isEmpty() || m.CsvSha256 == FileSha256(measurementPath);
  return r;
}

}  // namespace calorix
