#pragma once
// The TCP side of remote control: a raw line server (one instrument command
// line per LF) for at most kMaxClients clients, each with its own session.
// Nothing a client does can hold up the UI thread: input is read in bounded
// pieces, and a client that does not read its answers is not read from either.
#include "remote/Instrument.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace calorix {

class TScpiSession;

class TRemoteServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxClients = 8;
  static constexpr qsizetype kMaxLine = 4096;  // longer lines are dropped whole
  // Answers waiting in a socket beyond this stop the client's input.
  static constexpr qint64 kMaxUnsent = 1 << 20;
  // The UI thread's time for one client before the window and the others.
  static constexpr qint64 kSliceMs = 4;

  // Makes the instrument of a new client: each client then addresses what it
  // chose, apart from the others. None: the client is turned away.
  using TInstrumentFactory = std::function<std::unique_ptr<IRemoteInstrument>()>;

  // Every client talks to the one instrument.
  explicit TRemoteServer(IRemoteInstrument& instrument, QObject* parent = nullptr);
  // Every client has an instrument of its own, made when it connects.
  explicit TRemoteServer(TInstrumentFactory factory, QObject* parent = nullptr);
  ~TRemoteServer() override;

  // False with the reason when the address cannot be listened on.
  bool Listen(const QHostAddress& address, quint16 port, QString* error);
  void Close();  // drops every client
  bool Listening() const;
  QHostAddress Address() const;
  quint16 Port() const;
  int ClientCount() const { return int(FClients.size()); }
  // A client that sends nothing for this long is closed; 0: never.
  void SetIdleTimeout(int ms);
  // Clients whose input waits because they do not read their answers.
  int HeldClients() const;

 signals:
  void ClientsChanged(int count);

 private:
  struct TClient;
  void Accept();
  void Turn(TClient* client);  // a new time slice, then Pump
  void Pump(TClient* client);
  void IdleTimeout(TClient* client);
  void SchedulePump(TClient* client);
  void Drop(TClient* client);
  // Runs step on the client's session, marked as running.
  void Feed(TClient* client, const std::function<void()>& step);
  TClient* Find(QTcpSocket* socket) const;

  IRemoteInstrument* FShared = nullptr;  // not owned; none with a factory
  TInstrumentFactory FFactory;
  QTcpServer* FServer = nullptr;  // child
  std::vector<std::unique_ptr<TClient>> FClients;
  std::vector<std::unique_ptr<TClient>> FGone;  // dropped while their session ran
  QElapsedTimer FTurn;                          // since the running client's turn began
  int FIdleMs = 0;
};

}  // namespace calorix
