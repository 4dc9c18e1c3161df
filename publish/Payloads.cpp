#include "publish/Payloads.h"

#include <QDateTime>
#include <QSysInfo>

#include <unistd.h>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace calorix {
namespace {

std::string JsonNumber(double value) {
  return std::isfinite(value) ? FormatReading(value) : std::string("null");
}

void AppendJsonString(std::string& out, const QString& text) {
  out += '"';
  for (const char c : text.toStdString()) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

std::string PrintableText(std::string_view bytes, std::size_t maxChars) {
  const QList<uint> chars = QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).toUcs4();
  std::string out;
  std::size_t kept = 0;
  for (const uint c : chars) {
    if (kept++ == maxChars) {
      out += "...";
      break;
    }
    char buf[16];
    if (c == '\\') {
      out += "\\\\";
    } else if (QChar::isPrint(char32_t(c))) {
      const char32_t u = c;
      out += QString::fromUcs4(&u, 1).toStdString();
    } else {
      std::snprintf(buf, sizeof buf, c < 0x100 ? "\\x%02x" : "\\u{%x}", c);
      out += buf;
    }
  }
  return out;
}

std::string TopicLevel(std::string text) {
  for (char& c : text) {
    if (c == '/' || c == '+' || c == '#' || c == '\0')
      c = '_';
  }
  if (text.empty())
    text = "_";
  return text;
}

std::string ThermostatTopic(std::string_view prefix, const QString& serial, std::string_view leaf) {
  const std::string level = TopicLevel(serial.toStdString());
  std::string topic(prefix);
  topic += '/';
  topic += level;
  topic += '/';
  topic += leaf;
  return topic;
}

std::string ClientStatusTopic(std::string_view prefix, std::string_view clientId) {
  std::string topic(prefix);
  topic += "/clients/";
  topic += TopicLevel(std::string(clientId));
  topic += "/status";
  return topic;
}

std::string FormatReading(double value) {
  if (std::isnan(value))
    return "nan";
  if (std::isinf(value))
    return value > 0 ? "inf" : "-inf";
  // The shortest fixed form that reads back as the same double, padded to
  // two decimals as the thermostat writes them.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::string text(buf, res.ptr);
  const auto dot = text.find('.');
  if (dot == std::string::npos)
    text += ".00";
  else if (text.size() - dot < 3)
    text += '0';
  return text;
}

std::string SampleJson(const TSampleMessage& sample) {
  std::string out = "{\"time\": \"";
  out += QDateTime::fromMSecsSinceEpoch(sample.UtcMs, Qt::UTC)
             .toString(Qt::ISODateWithMs)
             .toStdString();
  out += "\", \"elapsed\": ";
  out += sample.Elapsed ? JsonNumber(std::round(*sample.Elapsed * 1000.0) / 1000.0) : "null";
  out += ", \"temperature\": ";
  out += JsonNumber(sample.Temperature);
  out += ", \"setpoint\": ";
  out += JsonNumber(sample.Setpoint);
  out += ", \"protection\": ";
  out += sample.Protection ? std::to_string(*sample.Protection) : "null";
  out += '}';
  return out;
}

std::string ProgramJson(std::string_view state, int step, const QString& name) {
  std::string out = "{\"state\": \"";
  out += state;
  out += "\", \"step\": ";
  out += std::to_string(step);
  out += ", \"name\": ";
  AppendJsonString(out, name);
  out += '}';
  return out;
}

std::string DefaultClientId() {
  return "calorix-" + QSysInfo::machineHostName().toStdString() + "-" + std::to_string(::getpid());
}

}  // namespace calorix
