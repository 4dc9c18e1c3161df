#pragma once
// The program's command line: every option, its help line, and the checks
// that turn a malformed value into a message and exit status 2 before any
// window opens.
#include "base/Endpoint.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace calorix {

struct TCommandLine {
  std::optional<QString> Simulate;     // simulated devices: "thermostat,adapter,..."
  std::optional<QString> HidEmulator;  // the device emulator's socket path
  std::optional<TEndpoint> Remote;     // the SCPI server's address
  std::optional<TEndpoint> Mqtt;       // the MQTT broker
  QStringList Thermostats;             // a window for each of these serials (headless: these only)
  bool Headless = false;               // no window, no display: the service
  std::optional<QString> Config;       // the settings file the headless program reads
};

struct TCommandLineResult {
  TCommandLine Options;
  // -1: run the program; otherwise exit with this status at once.
  int ExitCode = -1;
  QString Output;  // for standard output (help, version)
  QString Error;   // for standard error
};

// args as QCoreApplication::arguments() gives them, the program name first.
TCommandLineResult ParseCommandLine(const QStringList& args);

// "PORT", "ADDRESS:PORT" or "[IPv6]:PORT" (--remote); ADDRESS must be a
// numeric address or "localhost". Empty: 127.0.0.1:5025.
std::optional<TEndpoint> ParseRemoteEndpoint(const QString& text);
// "HOST" or "HOST:PORT" or "[IPv6]:PORT" (--mqtt), port 1883 by default.
std::optional<TEndpoint> ParseHostPort(const QString& text, std::uint16_t defaultPort);

}  // namespace calorix
