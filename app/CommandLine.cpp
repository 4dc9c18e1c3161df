#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <algorithm>

#include "link/SimHidPlatform.h"

namespace calorix {
namespace {

std::optional<std::uint16_t> ParsePort(const QString& text) {
  bool ok = false;
  const uint port = text.toUInt(&ok, 10);
  if (!ok || port == 0 || port > 65535 || text.startsWith('+'))
    return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

// Splits "host:port", "[v6]:port", "host" and "[v6]"; port is empty when not given.
bool SplitHostPort(const QString& text, QString& host, QString& port) {
  if (text.startsWith('[')) {
    const qsizetype close = text.indexOf(']');
    if (close < 0)
      return false;
    host = text.mid(1, close - 1);
    const QString rest = text.mid(close + 1);
    if (!rest.isEmpty() && !rest.startsWith(':'))
      return false;
    port = rest.mid(1);
    return !rest.startsWith(':') || !port.isEmpty();
  }
  if (text.count(':') > 1) {  // a bare IPv6 address, no port
    host = text;
    port.clear();
    return true;
  }
  const qsizetype colon = text.indexOf(':');
  host = colon < 0 ? text : text.left(colon);
  port = colon < 0 ? QString() : text.mid(colon + 1);
  return colon < 0 || !port.isEmpty();
}

bool IsHostName(const QString& host) {
  if (host.isEmpty() || host.size() > 253)
    return false;
  for (QChar c : host) {
    if (!(c.isLetterOrNumber() || c == '-' || c == '.' || c == '_' || c == ':'))
      return false;
  }
  return true;
}

// QCommandLineParser has no options with an optional value: a bare one gets its default.
QStringList WithDefaults(QStringList args) {
  for (QString& a : args) {
    if (a == QLatin1String("--simulate"))
      a = QStringLiteral("--simulate=thermostat");
    else if (a == QLatin1String("--remote"))
      a = QStringLiteral("--remote=127.0.0.1:5025");
  }
  return args;
}

}  // namespace

std::optional<TEndpoint> ParseHostPort(const QString& text, std::uint16_t defaultPort) {
  QString host, port;
  if (!SplitHostPort(text, host, port) || !IsHostName(host))
    return std::nullopt;
  TEndpoint e{host, defaultPort};
  if (!port.isEmpty()) {
    const auto p = ParsePort(port);
    if (!p)
      return std::nullopt;
    e.Port = *p;
  }
  return e;
}

std::optional<TEndpoint> ParseRemoteEndpoint(const QString& text) {
  if (text.isEmpty())
    return TEndpoint{QStringLiteral("127.0.0.1"), kDefaultRemotePort};
  if (const auto port = ParsePort(text))
    return TEndpoint{QStringLiteral("127.0.0.1"), *port};
  // All digits is a port, not an address in QHostAddress's integer form.
  if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
    return std::nullopt;
  auto e = ParseHostPort(text, kDefaultRemotePort);
  if (!e)
    return std::nullopt;
  if (e->Host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0 &&
      QHostAddress(e->Host).isNull())
    return std::nullopt;
  return e;
}

TCommandLineResult ParseCommandLine(const QStringList& args) {
  TCommandLineResult r;
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Calorix: recording and control program for a laboratory liquid thermostat."));
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption version(QStringLiteral("version"),
                                   QStringLiteral("Show the program's version and exit."));
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Use simulated thermostats instead of USB devices: a comma-separated list "
                     "of 'thermostat' and 'adapter' (default: one thermostat)."),
      QStringLiteral("devices"));
  const QCommandLineOption emulator(
      QStringLiteral("hid-emulator"),
      QStringLiteral("Take the HID devices from an emulator program listening on this "
                     "Unix-domain socket."),
      QStringLiteral("path"));
  const QCommandLineOption remote(
      QStringLiteral("remote"),
      QStringLiteral("Accept SCPI commands on a TCP port: PORT or ADDRESS:PORT "
                     "(default: 127.0.0.1:5025)."),
      QStringLiteral("address"));
  const QCommandLineOption mqtt(
      QStringLiteral("mqtt"),
      QStringLiteral("Publish readings to the MQTT broker at HOST[:PORT] (port 1883 by default)."),
      QStringLiteral("host[:port]"));
  const QCommandLineOption thermostat(
      QStringLiteral("thermostat"),
      QStringLiteral("Open a window for each thermostat named (serial numbers, comma-separated); "
                     "each waits for its thermostat and takes it again when it comes back. "
                     "With --headless: record and serve these thermostats only."),
      QStringLiteral("serials"));
  const QCommandLineOption headless(
      QStringLiteral("headless"),
      QStringLiteral("Run without a window and without a display (a service): record every "
                     "thermostat found to its data file, serve SCPI clients and the broker, log "
                     "to standard error; SIGTERM or SIGINT end it."));
  const QCommandLineOption config(
      QStringLiteral("config"),
      QStringLiteral("With --headless: the settings file to read (never written); section "
                     "[Headless] keys DataFolder and Thermostats."),
      QStringLiteral("file"));
  for (const auto* o :
       {&help, &version, &simulate, &emulator, &remote, &mqtt, &thermostat, &headless, &config})
    parser.addOption(*o);

  const QString name = QStringLiteral("calorix");
  auto fail = [&](const QString& text) {
    r.ExitCode = 2;
    r.Error = name + QStringLiteral(": ") + text +
              QStringLiteral("\nTry 'calorix --help' for the list of options.\n");
    return r;
  };
  if (!parser.parse(WithDefaults(args)))
    return fail(parser.errorText());
  if (!parser.positionalArguments().isEmpty())
    return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]));
  if (parser.isSet(help)) {
    r.ExitCode = 0;
    // The options whose value may be left out, written so; the columns stay aligned.
    r.Output =
        parser.helpText()
            .replace(QStringLiteral("<executable_name>"), name)
            .replace(QStringLiteral("--simulate <devices>  "),
                     QStringLiteral("--simulate[=<devices>]"))
            .replace(QStringLiteral("--remote <address>  "), QStringLiteral("--remote[=<address>]"))
            .replace(QStringLiteral("--hid-emulator <path>"),
                     QStringLiteral("--hid-emulator=<path>"))
            .replace(QStringLiteral("--mqtt <"), QStringLiteral("--mqtt=<"))
            .replace(QStringLiteral("--thermostat <"), QStringLiteral("--thermostat=<"))
            .replace(QStringLiteral("--config <"), QStringLiteral("--config=<"));
    return r;
  }
  if (parser.isSet(version)) {
    r.ExitCode = 0;
    r.Output = QStringLiteral("calorix " CALORIX_VERSION "\n");
    return r;
  }
  for (const auto* o : {&simulate, &emulator, &remote, &mqtt, &thermostat, &config}) {
    if (parser.values(*o).size() > 1)
      return fail(QStringLiteral("--%1 is given more than once").arg(o->names()[0]));
  }
  r.Options.Headless = parser.isSet(headless);
  if (parser.isSet(config)) {
    if (!r.Options.Headless)
      return fail(QStringLiteral("--config can only be used with --headless"));
    if (parser.value(config).isEmpty())
      return fail(QStringLiteral("--config needs the path of a settings file"));
    r.Options.Config = parser.value(config);
  }
  if (parser.isSet(simulate) && parser.isSet(emulator))
    return fail(QStringLiteral("--simulate and --hid-emulator cannot be used together"));
  if (parser.isSet(simulate)) {
    QString error;
    if (!ParseSimulatedDevices(parser.value(simulate), nullptr, &error))
      return fail(error);
    r.Options.Simulate = parser.value(simulate);
  }
  if (parser.isSet(emulator)) {
    if (parser.value(emulator).isEmpty())
      return fail(QStringLiteral("--hid-emulator needs the path of the emulator's socket"));
    r.Options.HidEmulator = parser.value(emulator);
  }
  if (parser.isSet(remote)) {
    r.Options.Remote = ParseRemoteEndpoint(parser.value(remote));
    if (!r.Options.Remote)
      return fail(
          QStringLiteral("--remote: '%1' is not PORT or ADDRESS:PORT").arg(parser.value(remote)));
  }
  if (parser.isSet(mqtt)) {
    r.Options.Mqtt = ParseHostPort(parser.value(mqtt), kDefaultMqttPort);
    if (!r.Options.Mqtt)
      return fail(QStringLiteral("--mqtt: '%1' is not HOST or HOST:PORT").arg(parser.value(mqtt)));
  }
  if (parser.isSet(thermostat)) {
    QStringList serials;
    for (const QString& item : parser.value(thermostat).split(QLatin1Char(','))) {
      const QString serial = item.trimmed();
      const bool printable = std::all_of(serial.begin(), serial.end(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f;
      });
      if (serial.isEmpty() || !printable)
        return fail(QStringLiteral("--thermostat: '%1' is not a list of serial numbers")
                        .arg(parser.value(thermostat)));
      if (!serials.contains(serial))
        serials << serial;
    }
    r.Options.Thermostats = serials;
  }
  return r;
}

}  // namespace calorix
