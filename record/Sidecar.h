#pragma once
// The metadata file kept beside a measurement file: for "run.csv",
// "run.meta.json". It tells what the file itself cannot: which thermostat,
// when the run started, the poll period, which software wrote it, the events
// of the run, and the SHA-256 of the measurement file's bytes as written, so
// a file changed since can be told (`sha256sum run.csv` gives the same hex).
//   {"format": "calorix-record", "version": 1, "software": "Calorix <version>",
//    "thermostat": {"serial", "product", "manufacturer"},
//    "start": "<UTC ISO 8601 ms of the first sample>" or null, "poll_ms": <period>,
//    "samples": <count>, "csv_sha256": "<hex>" or null, "events": [...]}
// The file is replaced atomically, after the measurement file.
#include "record/Events.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace calorix {

struct TRunMeta {
  QString Software;  // "Calorix 3.0.0"
  QString Serial, Product, Manufacturer;
  std::optional<qint64> StartUtcMs;  // of the first sample; none for an empty record
  int PollMs = 1000;
  std::int64_t Samples = 0;
  QString CsvSha256;  // lower-case hex; empty while the file is not finished
  std::vector<TEvent> Events;
};

// "run.csv" -> "run.meta.json"; a name without an extension gets ".meta.json".
QString SidecarPath(const QString& measurementPath);
QString Sha256Hex(const QByteArray& bytes);
// The hex of a file's bytes; empty when it cannot be read.
QString FileSha256(const QString& path);

QByteArray SidecarJson(const TRunMeta& meta);
// Writes the sidecar of measurementPath atomically; an empty string, or the
// error text naming the file and the system's reason.
QString WriteSidecar(const QString& measurementPath, const TRunMeta& meta);

struct TSidecarRead {
  enum class TState {
    None,     // no sidecar beside the file
    Damaged,  // there, but not one of ours or not readable: Error says why
    Ok,
  };
  TState State = TState::None;
  QString Error;
  TRunMeta Meta;
  // Ok only: whether the measurement file's bytes still give the recorded
  // checksum (true when none was recorded).
  bool ChecksumMatches = true;
};

// Reads the sidecar of measurementPath and checks the measurement file's bytes
// on the disk against its checksum.
TSidecarRead ReadSidecar(const QString& measurementPath);

}  // namespace calorix
