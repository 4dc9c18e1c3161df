#pragma once
// The TCP side of remote control: a raw line server (one instrument command
// line per LF) for at most kMaxClients clients, each with its own session.
// Nothing a client does can hold up the UI thread: input is read in bounded
// pieces, and a client that does not read its answers is not read from either.
#include "remote/Instrument.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

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

  explicit TRemoteServer(IRemoteInstrument& instrument, QObject* parent = nullptr);
  ~TRemoteServer() override;

  // False with the reason when the address cannot be listened on.
  bool Listen(const QHostAddress& address, quint16 port, QString* error);
  void Close();  // drops every client
  bool Listening() const;
  QHostAddress Address() const;
  quint16 Port() const;
  int ClientCount() const { return int(FClients.size()); }

 signals:
  void ClientsChanged(int count);

 private:
  struct TClient;
  void Accept();
  void Pump(TClient* client);
  void SchedulePump(TClient* client);
  void Drop(TClient* client);
  TClient* Find(QTcpSocket* socket) const;

  IRemoteInstrument& FInstrument;
  QTcpServer* FServer = nullptr;  // child
  std::vector<std::unique_ptr<TClient>> FClients;
};

}  // namespace calorix
