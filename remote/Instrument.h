#pragma once
// What a remote client may do with the program: the window implements it, the
// command table calls it. Everything runs on the UI thread; an operation that
// needs the thermostat answers later through its callback (possibly at once).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace calorix {

// 0: done. Otherwise a standard instrument error code with an optional detail
// that follows the code's own text in the client's error queue.
struct TRemoteError {
  int Code = 0;
  std::string Detail;
  explicit operator bool() const { return Code != 0; }
};

enum class TRemoteProgramState { Stopped, Running, Paused };

struct TRemotePoint {
  double Seconds = 0.0;  // from the start of the record
  double Value = 0.0;
};

class IRemoteInstrument {
 public:
  virtual ~IRemoteInstrument() = default;
  using TValueDone = std::function<void(double value, TRemoteError error)>;
  using TBitsDone = std::function<void(int bits, TRemoteError error)>;
  using TDone = std::function<void(TRemoteError error)>;

  // Of the selected thermostat; empty when none is selected.
  virtual std::string ProductName() const = 0;
  virtual std::string SelectedSerial() const = 0;
  virtual std::vector<std::string> Catalog() const = 0;
  virtual TRemoteError Select(const std::string& serial) = 0;

  virtual void MeasureTemperature(TValueDone done) = 0;
  virtual double LastTemperature() const = 0;  // NaN before the first one
  // An invalid value is refused at once (done is then not called).
  virtual TRemoteError WriteSetpoint(const std::string& text, TDone done) = 0;
  virtual void ReadSetpoint(TValueDone done) = 0;
  virtual void ReadProtection(TBitsDone done) = 0;

  virtual TRemoteError SetRecording(bool on) = 0;
  virtual bool Recording() const = 0;
  virtual std::size_t RecordPoints() const = 0;
  virtual std::vector<TRemotePoint> RecordData(std::size_t first, std::size_t count) const = 0;
  virtual TRemoteError SaveRecord(const std::string& path) = 0;
  virtual TRemoteError ClearRecord() = 0;

  virtual TRemoteError ProgramLoad(const std::string& path) = 0;
  virtual TRemoteError SetProgramState(TRemoteProgramState state) = 0;
  virtual TRemoteProgramState ProgramState() const = 0;
  virtual int ProgramStep() const = 0;  // 1-based, 0 when stopped

  // The codes of the thermostat's alarms ("protection", "lost", ...): those
  // active, those not yet acknowledged; acknowledging every one of them.
  virtual std::vector<std::string> ActiveAlarms() const { return {}; }
  virtual std::vector<std::string> UnacknowledgedAlarms() const { return {}; }
  virtual TRemoteError AcknowledgeAlarms() { return {}; }

  // The client's address and port ("192.0.2.7:51234"), told once it connects,
  // so that what it does can be put down to it.
  virtual void SetPeer(const std::string& peer) { (void)peer; }
};

}  // namespace calorix
