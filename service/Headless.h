#pragma once
// The program without a window: every thermostat found (or the ones named)
// polled and recorded to its data file, the SCPI port and the broker served,
// and whatever a window would show in a box or its status line written as
// one line of the log, prefixed with the thermostat's serial. Nothing here
// asks a person: what would be a question gets its safe answer.
#include "base/Endpoint.h"
#include "link/HidPlatform.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace calorix {

class IClock;
class TDataFile;
class TIniFile;
class TStation;
class TStationServices;
class TThermostatSession;

struct THeadlessOptions {
  IClock* Clock = nullptr;  // required, not owned
  // The settings file, read only: the headless program never writes one.
  QString IniFileName;
  std::optional<TEndpoint> Remote;  // --remote
  std::optional<TEndpoint> Mqtt;    // --mqtt
  // --thermostat; empty: the section Headless's "Thermostats"; empty too: every one found.
  QStringList Thermostats;
  int DataPeriodMs = 5000;  // how often the data files are written and synced
  // The wall clock of the data files' names; the system's when not set.
  std::function<QDateTime()> UtcNow;
  // Where log lines go; standard error when not set.
  std::function<void(const QString&)> Log;
};

class THeadless final : public QObject {
  Q_OBJECT
 public:
  THeadless(THeadlessOptions options, std::unique_ptr<IHidPlatform> platform,
            QObject* parent = nullptr);
  ~THeadless() override;

  // Reads the settings, opens a session for each thermostat named and starts
  // the port and the broker. Ready follows once the thermostats present at
  // the start are scanned.
  void Start();
  // The end of the run: every data file written, synced and closed, the
  // broker told this client is offline, the clients closed. Idempotent.
  void Stop();

  TStation& Station() { return *FStation; }
  TStationServices* Services() const { return FServices.get(); }
  // The data folder: the section Headless's "DataFolder", by default
  // $XDG_DATA_HOME/Calorix. The remote file commands use it too.
  const QString& DataFolder() const { return FDataFolder; }
  // Where the sessions keep what the next start must know (the note of a
  // running temperature program): "<data folder>/.state".
  QString StateFolder() const;
  // The serials this run takes; empty: every one found.
  const QStringList& Thermostats() const { return FThermostats; }
  std::vector<TThermostatSession*> Sessions() const;
  TDataFile* DataFileOf(const TThermostatSession* session) const;

 signals:
  void Ready();  // the thermostats found at the start are scanned and the port is open

 private:
  struct TEntry;

  void Open(const QString& serial);
  void Connect(TEntry& entry);
  void TakeSamples(TEntry& entry);
  void Log(const QString& serial, const QString& text) const;
  TEntry* EntryOf(const TThermostatSession* session) const;

  THeadlessOptions FOptions;
  QString FDataFolder;
  QStringList FThermostats;
  int FPollTime = 1000;
  std::unique_ptr<TStation> FStation;
  std::vector<std::unique_ptr<TEntry>> FEntries;
  std::unique_ptr<TStationServices> FServices;
  bool FStopped = false;
};

// The serials of a "Thermostats" key or --thermostat: comma-separated, blanks
// around them dropped, each once.
QStringList SplitSerials(const QString& text);

}  // namespace calorix
