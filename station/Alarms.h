#pragma once
// The alarms of one bath: the conditions watched on every reading (protection,
// switched off, link lost, deviation from the setpoint, high and low limits),
// the states a person sees (raised, acknowledged, cleared) with their UTC
// times, and the settings of the section "Alarm" with the overrides of
// "Alarm SERIAL". Nothing here writes to the thermostat.
#include "base/Clock.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calorix {

class TIniFile;

// In the order the lists show them.
enum class TAlarmCode { Protection, Off, Lost, Deviation, High, Low, DataFile };
inline constexpr int kAlarmCodes = 7;

// "protection", "off", "lost", "deviation", "high", "low", "datafile".
const char* AlarmCodeName(TAlarmCode code);

struct TAlarmSettings {
  double Band = 0.0;                // °C around the setpoint; 0: no deviation watch
  double DelaySeconds = 60.0;       // of deviation, high and low
  std::optional<double> High, Low;  // °C; none: off
  bool Notify = true;               // desktop notifications
  bool operator==(const TAlarmSettings&) const = default;
};

// The section "Alarm" and, for one thermostat, "Alarm SERIAL" on top of it
// (key by key). Values that are not numbers, a negative band, or a low limit
// above the high one read as off; a delay that is not a number of seconds
// >= 0 reads as the default.
class TAlarmConfig {
 public:
  TAlarmConfig();
  explicit TAlarmConfig(const TIniFile& ini);
  TAlarmConfig(const TAlarmConfig& other);
  TAlarmConfig& operator=(const TAlarmConfig& other);
  ~TAlarmConfig();

  const TAlarmSettings& Base() const { return FBase; }
  void SetBase(const TAlarmSettings& base) { FBase = base; }
  // The settings for the thermostat of this serial (as the station shows it).
  TAlarmSettings For(const QString& serial) const;

 private:
  TAlarmSettings FBase;
  std::unique_ptr<TIniFile> FFile;  // as read, for the overrides; none: no file
};

// Whether the dialog's texts make valid settings: the reason they do not (a
// message), or empty. high/low empty means off; a comma is a decimal point.
QString CheckAlarmTexts(const QString& band, const QString& delay, const QString& high,
                        const QString& low);
// The settings those texts make (checked first).
TAlarmSettings AlarmSettingsFromTexts(const QString& band, const QString& delay,
                                      const QString& high, const QString& low, bool notify);
// Writes the section "Alarm" when settings differ from the defaults or the
// file has the section already; false when a write failed.
bool WriteAlarmSettings(TIniFile& ini, const TAlarmSettings& settings);
// A temperature or band as the settings file and the dialog write it.
QString AlarmNumberText(double value);

struct TAlarm {
  TAlarmCode Code = TAlarmCode::Protection;
  int Detail = 0;  // protection: the status bits; lost: 1 when the thermostat went away
  bool Active = false;
  bool Acknowledged = false;
  QDateTime Raised, AcknowledgedAt, Cleared;  // UTC; null until it happens
};

enum class TAlarmEvent { Raised, Acknowledged, Cleared };

struct TAlarmChange {
  TAlarmCode Code = TAlarmCode::Protection;
  TAlarmEvent Event = TAlarmEvent::Raised;
  QDateTime Utc;
  int Detail = 0;
};

// The conditions of one bath on the session's clock. Each input may change
// the list; TakeChanges gives what changed since the last call.
class TAlarmWatch {
 public:
  explicit TAlarmWatch(IClock& clock);

  void SetSettings(const TAlarmSettings& settings) { FSettings = settings; }
  const TAlarmSettings& Settings() const { return FSettings; }
  // The UTC time of a clock reading; the times of the list follow from it.
  void SetUtcBase(const QDateTime& utc, double clockReading);
  // The link counts as lost after max(10 s, 3 poll periods) without a temperature.
  void SetPollSeconds(double seconds) { FPollSeconds = seconds; }
  double LostSeconds() const;

  // --- What the session reads and does
  void Attached();                 // a thermostat is selected now
  void Detached();                 // it went away
  void Temperature(double value);  // every polled temperature, NaN when unreadable
  void Setpoint(double value);     // every setpoint read back
  void Protection(int bits);
  void SwitchedOff();
  void Tick();  // the poll timer's tick: a silent link is lost after its time
  // The front end's data file (a program without a window keeps one): raised
  // while it cannot be written, cleared once it is written again.
  void DataFile(bool failing);

  // --- What a person does
  void Acknowledge();  // all of them

  // The list: every alarm active or not yet acknowledged, in code order.
  std::vector<TAlarm> List() const;
  bool Any() const { return FCount > 0; }
  bool AnyActive() const;
  bool AnyUnacknowledged() const;
  QStringList ActiveCodes() const;
  QStringList UnacknowledgedCodes() const;
  // The oldest raise of the list; null when it is empty.
  QDateTime Since() const;
  std::vector<TAlarmChange> TakeChanges();
  bool Changed() const { return FChanged; }

 private:
  // A condition held for a while: when it started (clock reading), none while it does not hold.
  struct TSpell {
    std::optional<double> Start;
  };
  double Now() const { return FClock.Now(); }
  QDateTime Utc(double reading) const;
  void Raise(TAlarmCode code, int detail);
  void Clear(TAlarmCode code);
  // A condition with the delay of the settings: raised once it has held that long.
  void Hold(TSpell& spell, TAlarmCode code, bool holds);
  void Limits(double value);
  void CheckLost();

  IClock& FClock;
  TAlarmSettings FSettings;
  TWallClock FWall;
  double FPollSeconds = 1.0;

  std::array<std::optional<TAlarm>, kAlarmCodes> FAlarms;
  int FCount = 0;
  std::vector<TAlarmChange> FChanges;
  bool FChanged = false;

  bool FWatching = false;  // a thermostat selected and not switched off
  double FLastSign = 0.0;  // the last temperature, or the selection
  double FSetpoint = 0.0;
  bool FSetpointKnown = false;
  bool FArmed = false;  // inside the band since the setpoint changed
  TSpell FOutside, FAbove, FBelow;
};

// {"active": [...], "unacknowledged": [...], "since": "<UTC ISO 8601 with ms>" or null}:
// the alarm topic's payload.
std::string AlarmJson(const TAlarmWatch& watch);

// "перегрев, уровень": the names of the protection bits set.
QString ProtectionBitsText(int bits);
// The alarm as a person reads it: "нет связи", "защита (перегрев)".
QString AlarmText(TAlarmCode code, int detail);
// A time of the list as a person reads it: local, with the date when not today's.
QString AlarmTimeText(const QDateTime& utc);
// "Тревога: нет связи с 03:12:45": the list as the window and the overview show
// it (one cleared but not acknowledged from when to when); empty without any.
QString AlarmsLine(const TAlarmWatch& alarms);
// A log line of a change: "Тревога: нет связи с 03:12:45", "Тревога подтверждена: ...",
// "Тревога снята: ...".
QString AlarmChangeText(const TAlarmChange& change);

}  // namespace calorix
