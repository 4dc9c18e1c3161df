#pragma once
// The topics and payloads the program publishes, as plain functions: what a
// subscriber sees does not depend on the connection code.
#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace calorix {

// One topic level made of any text: characters a level may not hold ('/',
// '+', '#', NUL) become '_'; an empty text is "_".
std::string TopicLevel(std::string text);
// "<prefix>/<serial>/<leaf>", the serial as TopicLevel makes it.
std::string ThermostatTopic(std::string_view prefix, const QString& serial, std::string_view leaf);
// "<prefix>/clients/<clientId>/status".
std::string ClientStatusTopic(std::string_view prefix, std::string_view clientId);

// A reading as a plain decimal with '.', at least two decimals and as many as
// it takes to give back the same double ("24.37", "25.00", "24.375"). NaN and
// infinities read "nan", "inf", "-inf".
std::string FormatReading(double value);

struct TSampleMessage {
  qint64 UtcMs = 0;               // milliseconds since the Unix epoch
  std::optional<double> Elapsed;  // seconds of the record; none when not recording
  double Temperature = 0.0;
  double Setpoint = 0.0;
  std::optional<int> Protection;  // none before the first read
};
// {"time": "...Z", "elapsed": ..., "temperature": ..., "setpoint": ..., "protection": ...};
// unreadable numbers are null. Elapsed is rounded to milliseconds.
std::string SampleJson(const TSampleMessage& sample);

// {"state": "running", "step": 2, "name": "..."}: state one of stopped,
// running, paused; step 1-based, 0 when stopped.
std::string ProgramJson(std::string_view state, int step, const QString& name);

// Text from the network (a topic, a payload) made safe for a line on standard
// error: printable characters stay, '\\' and every other character become an
// escape (\\x1b, \\u{202e}); invalid UTF-8 shows as U+FFFD. At most maxChars
// characters are kept, "..." marks a cut.
std::string PrintableText(std::string_view bytes, std::size_t maxChars = 200);

// The default client id: "calorix-<hostname>-<pid>".
std::string DefaultClientId();

}  // namespace calorix
