#include "station/Alarms.h"

#include "base/IniFile.h"
#include "base/Messages.h"

#include <algorithm>
#include <cmath>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("Alarm");
constexpr double kSecond = 1.0 / 86400.0;
// Clock readings are days: a comparison of seconds allows for their rounding.
constexpr double kSlackSeconds = 1e-6;

// A number of the settings: '.' or ',' as the decimal point, blanks around it.
std::optional<double> Number(QString text) {
  text = text.trimmed();
  text.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double v = text.toDouble(&ok);
  if (!ok || !std::isfinite(v))
    return std::nullopt;
  return v;
}

// Band: a number >= 0, otherwise off.
double BandFrom(const QString& text) {
  const auto v = Number(text);
  return v && *v >= 0 ? *v : 0.0;
}

// Delay: a number of seconds >= 0, otherwise the default.
double DelayFrom(const QString& text) {
  const auto v = Number(text);
  return v && *v >= 0 ? *v : TAlarmSettings().DelaySeconds;
}

bool NotifyFrom(const QString& text) {
  const auto v = ParseIniInteger(text.trimmed());
  return v ? *v != 0 : TAlarmSettings().Notify;
}

// A low limit above the high one makes neither mean anything.
void CheckLimits(TAlarmSettings& s) {
  if (s.High && s.Low && *s.Low > *s.High) {
    s.High.reset();
    s.Low.reset();
  }
}

// Absent keys read as this, a text no key can hold.
const QString kAbsent = QStringLiteral("\n");

std::optional<QString> Key(const TIniFile& ini, const QString& section, const char* key) {
  const QString v = ini.ReadString(section, QString::fromLatin1(key), kAbsent);
  return v == kAbsent ? std::nullopt : std::optional<QString>(v);
}

}  // namespace

const char* AlarmCodeName(TAlarmCode code) {
  static const char* const names[kAlarmCodes] = {"protection", "off", "lost",    "deviation",
                                                 "high",       "low", "datafile"};
  return names[int(code)];
}

QString ProtectionBitsText(int bits) {
  QStringList names;
  for (int bit = 0; bit < 6; ++bit) {
    if (bits & (1 << bit))
      names << LoadStr(1022 + bit);
  }
  return names.join(QStringLiteral(", "));
}

QString AlarmText(TAlarmCode code, int detail) {
  switch (code) {
    case TAlarmCode::Protection:
      return LoadStr(1145).arg(ProtectionBitsText(detail));
    case TAlarmCode::Off:
      return LoadStr(1146);
    case TAlarmCode::Lost:
      return LoadStr(1147);
    case TAlarmCode::Deviation:
      return LoadStr(1148);
    case TAlarmCode::High:
      return LoadStr(1149);
    case TAlarmCode::Low:
      return LoadStr(1150);
    case TAlarmCode::DataFile:
      return LoadStr(1260);
  }
  return {};
}

std::string AlarmJson(const TAlarmWatch& watch) {
  const auto list = [](const QStringList& codes) {
    std::string out = "[";
    for (const QString& c : codes)
      out += (out.size() > 1 ? ", \"" : "\"") + c.toStdString() + "\"";
    return out + "]";
  };
  const QDateTime since = watch.Since();
  return "{\"active\": " + list(watch.ActiveCodes()) +
         ", \"unacknowledged\": " + list(watch.UnacknowledgedCodes()) + ", \"since\": " +
         (since.isNull() ? std::string("null")
                         : "\"" + since.toUTC().toString(Qt::ISODateWithMs).toStdString() + "\"") +
         "}";
}

QString AlarmTimeText(const QDateTime& utc) {
  const QDateTime local = utc.toLocalTime();
  return local.date() == QDate::currentDate() ? local.toString(QStringLiteral("HH:mm:ss"))
                                              : local.toString(QStringLiteral("dd.MM HH:mm:ss"));
}

QString AlarmsLine(const TAlarmWatch& alarms) {
  QStringList parts;
  for (const TAlarm& a : alarms.List()) {
    const QString text = AlarmText(a.Code, a.Detail);
    parts << (a.Active
                  ? LoadStr(1142).arg(text, AlarmTimeText(a.Raised))
                  : LoadStr(1143).arg(text, AlarmTimeText(a.Raised), AlarmTimeText(a.Cleared)));
  }
  return parts.isEmpty() ? QString() : LoadStr(1141).arg(parts.join(QStringLiteral("; ")));
}

QString AlarmChangeText(const TAlarmChange& change) {
  const QString what =
      LoadStr(1142).arg(AlarmText(change.Code, change.Detail), AlarmTimeText(change.Utc));
  switch (change.Event) {
    case TAlarmEvent::Raised:
      return LoadStr(1141).arg(what);
    case TAlarmEvent::Acknowledged:
      return LoadStr(1163).arg(what);
    case TAlarmEvent::Cleared:
      break;
  }
  return LoadStr(1164).arg(what);
}

// ---------------------------------------------------------------------------
// Settings

namespace {

// The keys of a section on top of base; absent keys leave base's value.
TAlarmSettings Resolve(TAlarmSettings s, const TIniFile& ini, const QString& section) {
  if (const auto v = Key(ini, section, "Band"))
    s.Band = BandFrom(*v);
  if (const auto v = Key(ini, section, "Delay"))
    s.DelaySeconds = DelayFrom(*v);
  if (const auto v = Key(ini, section, "High"))
    s.High = Number(*v);
  if (const auto v = Key(ini, section, "Low"))
    s.Low = Number(*v);
  if (const auto v = Key(ini, section, "Notify"))
    s.Notify = NotifyFrom(*v);
  CheckLimits(s);
  return s;
}

}  // namespace

TAlarmConfig::TAlarmConfig() = default;
TAlarmConfig::~TAlarmConfig() = default;

TAlarmConfig::TAlarmConfig(const TIniFile& ini)
    : FBase(Resolve(TAlarmSettings{}, ini, kSection)), FFile(std::make_unique<TIniFile>(ini)) {}

TAlarmConfig::TAlarmConfig(const TAlarmConfig& other)
    : FBase(other.FBase), FFile(other.FFile ? std::make_unique<TIniFile>(*other.FFile) : nullptr) {}

TAlarmConfig& TAlarmConfig::operator=(const TAlarmConfig& other) {
  if (this != &other) {
    FBase = other.FBase;
    FFile = other.FFile ? std::make_unique<TIniFile>(*other.FFile) : nullptr;
  }
  return *this;
}

TAlarmSettings TAlarmConfig::For(const QString& serial) const {
  // Section names compare without regard to case, as the settings file's do.
  if (!FFile || serial.isEmpty())
    return FBase;
  return Resolve(FBase, *FFile, kSection + QLatin1Char(' ') + serial);
}

QString CheckAlarmTexts(const QString& band, const QString& delay, const QString& high,
                        const QString& low) {
  const auto b = Number(band);
  if (!b || *b < 0)
    return LoadStr(1157);
  const auto d = Number(delay);
  if (!d || *d < 0)
    return LoadStr(1158);
  std::optional<double> limits[2];
  const QString* texts[2] = {&high, &low};
  for (int i = 0; i < 2; ++i) {
    if (texts[i]->trimmed().isEmpty())
      continue;
    limits[i] = Number(*texts[i]);
    if (!limits[i])
      return LoadStr(1159);
  }
  if (limits[0] && limits[1] && *limits[1] > *limits[0])
    return LoadStr(1160);
  return {};
}

TAlarmSettings AlarmSettingsFromTexts(const QString& band, const QString& delay,
                                      const QString& high, const QString& low, bool notify) {
  TAlarmSettings s;
  s.Band = BandFrom(band);
  s.DelaySeconds = DelayFrom(delay);
  s.High = Number(high);
  s.Low = Number(low);
  s.Notify = notify;
  CheckLimits(s);
  return s;
}

QString AlarmNumberText(double value) {
  return QString::number(value, 'g', 10);
}

bool WriteAlarmSettings(TIniFile& ini, const TAlarmSettings& s) {
  // A file that never had the section gets it only for settings of its own.
  static const char* const keys[] = {"Band", "Delay", "High", "Low", "Notify"};
  if (s == TAlarmSettings{} && std::none_of(std::begin(keys), std::end(keys), [&](const char* key) {
        return Key(ini, kSection, key).has_value();
      }))
    return true;
  const auto limit = [](const std::optional<double>& v) {
    return v ? AlarmNumberText(*v) : QString();
  };
  return ini.WriteString(kSection, QStringLiteral("Band"), AlarmNumberText(s.Band)) &&
         ini.WriteString(kSection, QStringLiteral("Delay"), AlarmNumberText(s.DelaySeconds)) &&
         ini.WriteString(kSection, QStringLiteral("High"), limit(s.High)) &&
         ini.WriteString(kSection, QStringLiteral("Low"), limit(s.Low)) &&
         ini.WriteBool(kSection, QStringLiteral("Notify"), s.Notify);
}

// ---------------------------------------------------------------------------
// The watch

TAlarmWatch::TAlarmWatch(IClock& clock) : FClock(clock) {
  SetUtcBase(QDateTime::currentDateTimeUtc(), clock.Now());
}

void TAlarmWatch::SetUtcBase(const QDateTime& utc, double clockReading) {
  FWall = TWallClock(utc.toMSecsSinceEpoch(), clockReading);
}

QDateTime TAlarmWatch::Utc(double reading) const {
  return QDateTime::fromMSecsSinceEpoch(FWall.At(reading), Qt::UTC);
}

double TAlarmWatch::LostSeconds() const {
  return std::max(10.0, 3.0 * FPollSeconds);
}

void TAlarmWatch::Raise(TAlarmCode code, int detail) {
  std::optional<TAlarm>& a = FAlarms[std::size_t(code)];
  if (a && a->Active) {
    if (a->Detail != detail) {
      a->Detail = detail;
      FChanged = true;
    }
    return;
  }
  // One that came back before it was acknowledged is raised anew.
  if (!a)
    ++FCount;
  a = TAlarm{};
  a->Code = code;
  a->Detail = detail;
  a->Active = true;
  a->Raised = Utc(Now());
  FChanges.push_back({code, TAlarmEvent::Raised, a->Raised, detail});
  FChanged = true;
}

void TAlarmWatch::Clear(TAlarmCode code) {
  std::optional<TAlarm>& a = FAlarms[std::size_t(code)];
  if (!a || !a->Active)
    return;
  a->Active = false;
  a->Cleared = Utc(Now());
  FChanges.push_back({code, TAlarmEvent::Cleared, a->Cleared, a->Detail});
  FChanged = true;
  if (a->Acknowledged) {
    a.reset();
    --FCount;
  }
}

void TAlarmWatch::Acknowledge() {
  const QDateTime now = Utc(Now());
  for (std::optional<TAlarm>& a : FAlarms) {
    if (!a || a->Acknowledged)
      continue;
    a->Acknowledged = true;
    a->AcknowledgedAt = now;
    FChanges.push_back({a->Code, TAlarmEvent::Acknowledged, now, a->Detail});
    FChanged = true;
    if (!a->Active) {
      a.reset();
      --FCount;
    }
  }
}

void TAlarmWatch::Hold(TSpell& spell, TAlarmCode code, bool holds) {
  if (!holds) {
    spell.Start.reset();
    Clear(code);
    return;
  }
  if (!spell.Start)
    spell.Start = Now();
  if ((Now() - *spell.Start) / kSecond + kSlackSeconds >= FSettings.DelaySeconds)
    Raise(code, 0);
}

void TAlarmWatch::Attached() {
  FWatching = true;
  FLastSign = Now();
  Clear(TAlarmCode::Off);
  // A thermostat new to the session: the deviation watch arms on its own readings.
  FArmed = false;
  FSetpointKnown = false;
  FOutside = FAbove = FBelow = {};
}

void TAlarmWatch::Detached() {
  FWatching = false;
  Clear(TAlarmCode::Off);
  Raise(TAlarmCode::Lost, 1);
}

void TAlarmWatch::SwitchedOff() {
  // It answered: the link is there, and the bath is not heated or cooled any more.
  FWatching = false;
  Clear(TAlarmCode::Lost);
  Raise(TAlarmCode::Off, 0);
}

void TAlarmWatch::Protection(int bits) {
  bits &= 0x3f;  // the six bits with a name; others read as normal
  if (bits)
    Raise(TAlarmCode::Protection, bits);
  else
    Clear(TAlarmCode::Protection);
}

void TAlarmWatch::Setpoint(double value) {
  const bool same =
      FSetpointKnown && (value == FSetpoint || (std::isnan(value) && std::isnan(FSetpoint)));
  if (same)
    return;
  // A new setpoint: heating or cooling towards it is no deviation.
  FSetpoint = value;
  FSetpointKnown = true;
  FArmed = false;
  FOutside.Start.reset();
  Clear(TAlarmCode::Deviation);
}

void TAlarmWatch::Temperature(double value) {
  if (std::isnan(value)) {
    // Never inside: a spell outside goes on, and the link counts as silent.
    const auto go_on = [&](TSpell& spell, TAlarmCode code, bool on) {
      if (!on) {
        spell.Start.reset();
        Clear(code);
      } else if (spell.Start) {
        Hold(spell, code, true);
      }
    };
    go_on(FOutside, TAlarmCode::Deviation, FSettings.Band > 0 && FArmed);
    go_on(FAbove, TAlarmCode::High, FSettings.High.has_value());
    go_on(FBelow, TAlarmCode::Low, FSettings.Low.has_value());
    CheckLost();
    return;
  }
  FLastSign = Now();
  Clear(TAlarmCode::Lost);
  Clear(TAlarmCode::Off);
  if (FSettings.Band > 0 && FSetpointKnown && !std::isnan(FSetpoint)) {
    const bool inside = std::fabs(value - FSetpoint) <= FSettings.Band;
    if (inside)
      FArmed = true;
    Hold(FOutside, TAlarmCode::Deviation, FArmed && !inside);
  } else {
    Hold(FOutside, TAlarmCode::Deviation, false);
  }
  Limits(value);
}

void TAlarmWatch::Limits(double value) {
  Hold(FAbove, TAlarmCode::High, FSettings.High && value > *FSettings.High);
  Hold(FBelow, TAlarmCode::Low, FSettings.Low && value < *FSettings.Low);
}

void TAlarmWatch::Tick() {
  CheckLost();
}

void TAlarmWatch::DataFile(bool failing) {
  if (failing)
    Raise(TAlarmCode::DataFile, 0);
  else
    Clear(TAlarmCode::DataFile);
}

void TAlarmWatch::CheckLost() {
  if (FWatching && (Now() - FLastSign) / kSecond + kSlackSeconds >= LostSeconds())
    Raise(TAlarmCode::Lost, 0);
}

std::vector<TAlarm> TAlarmWatch::List() const {
  std::vector<TAlarm> out;
  for (const auto& a : FAlarms) {
    if (a)
      out.push_back(*a);
  }
  return out;
}

bool TAlarmWatch::AnyActive() const {
  return std::any_of(FAlarms.begin(), FAlarms.end(), [](const auto& a) { return a && a->Active; });
}

bool TAlarmWatch::AnyUnacknowledged() const {
  return std::any_of(FAlarms.begin(), FAlarms.end(),
                     [](const auto& a) { return a && !a->Acknowledged; });
}

QStringList TAlarmWatch::ActiveCodes() const {
  QStringList out;
  for (const auto& a : FAlarms) {
    if (a && a->Active)
      out << QString::fromLatin1(AlarmCodeName(a->Code));
  }
  return out;
}

QStringList TAlarmWatch::UnacknowledgedCodes() const {
  QStringList out;
  for (const auto& a : FAlarms) {
    if (a && !a->Acknowledged)
      out << QString::fromLatin1(AlarmCodeName(a->Code));
  }
  return out;
}

QDateTime TAlarmWatch::Since() const {
  QDateTime oldest;
  for (const auto& a : FAlarms) {
    if (a && (oldest.isNull() || a->Raised < oldest))
      oldest = a->Raised;
  }
  return oldest;
}

std::vector<TAlarmChange> TAlarmWatch::TakeChanges() {
  FChanged = false;
  std::vector<TAlarmChange> out;
  out.swap(FChanges);
  return out;
}

}  // namespace calorix
