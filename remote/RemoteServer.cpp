#include "remote/RemoteServer.h"

#include "remote/ScpiSession.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace calorix {

struct TRemoteServer::TClient {
  QPointer<QTcpSocket> Socket;
  std::unique_ptr<TScpiSession> Session;
  QByteArray Input;         // bytes read, not yet a whole line
  bool Discarding = false;  // inside a line over the limit
  bool PumpQueued = false;
};

TRemoteServer::TRemoteServer(IRemoteInstrument& instrument, QObject* parent)
    : QObject(parent), FInstrument(instrument), FServer(new QTcpServer(this)) {
  connect(FServer, &QTcpServer::newConnection, this, &TRemoteServer::Accept);
}

TRemoteServer::~TRemoteServer() {
  Close();
}

bool TRemoteServer::Listen(const QHostAddress& address, quint16 port, QString* error) {
  Close();
  if (FServer->listen(address, port))
    return true;
  if (error)
    *error = FServer->errorString();
  return false;
}

void TRemoteServer::Close() {
  FServer->close();
  while (!FClients.empty())
    Drop(FClients.back().get());
}

bool TRemoteServer::Listening() const {
  return FServer->isListening();
}

QHostAddress TRemoteServer::Address() const {
  return FServer->serverAddress();
}

quint16 TRemoteServer::Port() const {
  return FServer->serverPort();
}

TRemoteServer::TClient* TRemoteServer::Find(QTcpSocket* socket) const {
  for (const auto& c : FClients) {
    if (c->Socket == socket)
      return c.get();
  }
  return nullptr;
}

void TRemoteServer::Accept() {
  while (QTcpSocket* socket = FServer->nextPendingConnection()) {
    if (int(FClients.size()) >= kMaxClients) {
      socket->write(QByteArrayLiteral("Calorix: at most 8 clients at a time; connection closed\n"));
      socket->disconnectFromHost();
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
      continue;
    }
    // Bounded reading: what the client sends beyond this waits in the kernel.
    socket->setReadBufferSize(64 * 1024);
    auto client = std::make_unique<TClient>();
    TClient* raw = client.get();
    client->Socket = socket;
    QPointer<QTcpSocket> guard = socket;
    client->Session = std::make_unique<TScpiSession>(
        FInstrument,
        [guard](std::string answer) {
          if (guard && guard->state() == QAbstractSocket::ConnectedState)
            guard->write(answer.data(), qint64(answer.size()));
        },
        [this, raw] { SchedulePump(raw); });
    FClients.push_back(std::move(client));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
      if (TClient* c = Find(socket))
        Pump(c);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
      if (TClient* c = Find(socket); c && socket->bytesToWrite() < kMaxUnsent / 2)
        Pump(c);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      if (TClient* c = Find(socket))
        Drop(c);
    });
    // A client gone with unread lines: nobody is left to answer.
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
      if (TClient* c = Find(socket))
        Drop(c);
    });
    emit ClientsChanged(ClientCount());
    Pump(raw);
  }
}

void TRemoteServer::SchedulePump(TClient* client) {
  if (client->PumpQueued)
    return;
  client->PumpQueued = true;
  QPointer<QTcpSocket> socket = client->Socket;
  QTimer::singleShot(0, this, [this, socket] {
    if (TClient* c = Find(socket)) {
      c->PumpQueued = false;
      c->Session->Resume();
      Pump(c);
    }
  });
}

void TRemoteServer::Pump(TClient* c) {
  QTcpSocket* socket = c->Socket;
  if (!socket)
    return;
  // A few lines per call, so one busy client cannot keep the window waiting.
  for (int lines = 0; lines < 64; ++lines) {
    if (c->Session->Busy() || socket->bytesToWrite() > kMaxUnsent)
      return;
    const qsizetype lf = c->Input.indexOf('\n');
    if (lf >= 0) {
      const QByteArray line = c->Input.left(lf);
      c->Input.remove(0, lf + 1);
      const qsizetype length = line.endsWith('\r') ? line.size() - 1 : line.size();
      if (c->Discarding || length > kMaxLine) {
        c->Discarding = false;
        c->Session->LineTooLong();
      } else {
        c->Session->Line(std::string_view(line.constData(), std::size_t(line.size())));
      }
      if (!Find(socket))
        return;
      continue;
    }
    if (c->Input.size() > kMaxLine + 1) {
      c->Discarding = true;  // the rest of this line is dropped as it comes
      c->Input.clear();
    }
    const QByteArray more = socket->read(16 * 1024);
    if (more.isEmpty())
      return;
    c->Input += more;
  }
  // More may be waiting: go on after other events had their turn.
  if (socket->bytesAvailable() > 0 || c->Input.contains('\n'))
    SchedulePump(c);
}

void TRemoteServer::Drop(TClient* client) {
  auto it = std::find_if(FClients.begin(), FClients.end(),
                         [client](const auto& c) { return c.get() == client; });
  if (it == FClients.end())
    return;
  std::unique_ptr<TClient> gone = std::move(*it);
  FClients.erase(it);
  if (QTcpSocket* socket = gone->Socket) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
  emit ClientsChanged(ClientCount());
}

}  // namespace calorix
