#include "remote/RemoteServer.h"

#include "remote/ScpiSession.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace calorix {
namespace {

// "127.0.0.1:51234", "[::1]:51234"; an IPv4 client of a dual-stack port as IPv4.
std::string PeerName(const QTcpSocket& socket) {
  QHostAddress address = socket.peerAddress();
  bool v4 = false;
  const quint32 ip4 = address.toIPv4Address(&v4);
  if (v4)
    address = QHostAddress(ip4);
  QString host = address.toString();
  if (address.protocol() == QAbstractSocket::IPv6Protocol)
    host = QLatin1Char('[') + host + QLatin1Char(']');
  return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort()).toStdString();
}

bool StartsWithNoCase(const QByteArray& line, const char* prefix) {
  return line.left(qsizetype(std::strlen(prefix))).compare(prefix, Qt::CaseInsensitive) == 0;
}

// What a web browser sends: "POST /path HTTP/1.1" first, "Host:" and
// "Origin:" among the headers. No instrument command line looks like either.
bool LooksLikeHttp(const QByteArray& line, bool first) {
  if (StartsWithNoCase(line, "host:") || StartsWithNoCase(line, "origin:"))
    return true;
  if (!first)
    return false;
  const QList<QByteArray> words = line.trimmed().split(' ');
  if (words.size() != 3 || !words[2].startsWith("HTTP/1."))
    return false;
  return !words[0].isEmpty() &&
         std::all_of(words[0].begin(), words[0].end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

struct TRemoteServer::TClient {
  QPointer<QTcpSocket> Socket;
  std::unique_ptr<IRemoteInstrument> Instrument;  // its own, made by the factory; outlives Session
  std::unique_ptr<TScpiSession> Session;
  QByteArray Input;         // bytes read, not yet a whole line
  bool Discarding = false;  // inside a line over the limit
  bool PumpQueued = false;
  bool InSession = false;  // its session is running a command
  bool Held = false;       // answers pile up unread: its input waits
  bool FirstLine = true;
  QTimer* Idle = nullptr;  // child of the socket
};

TRemoteServer::TRemoteServer(IRemoteInstrument& instrument, QObject* parent)
    : QObject(parent), FShared(&instrument), FServer(new QTcpServer(this)) {
  connect(FServer, &QTcpServer::newConnection, this, &TRemoteServer::Accept);
}

TRemoteServer::TRemoteServer(TInstrumentFactory factory, QObject* parent)
    : QObject(parent), FFactory(std::move(factory)), FServer(new QTcpServer(this)) {
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

int TRemoteServer::HeldClients() const {
  return int(
      std::count_if(FClients.begin(), FClients.end(), [](const auto& c) { return c->Held; }));
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
    std::unique_ptr<IRemoteInstrument> own = FFactory ? FFactory() : nullptr;
    IRemoteInstrument* instrument = FFactory ? own.get() : FShared;
    if (!instrument) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    if (own)
      own->SetPeer(PeerName(*socket));
    // Bounded reading: what the client sends beyond this waits in the kernel.
    socket->setReadBufferSize(64 * 1024);
    auto client = std::make_unique<TClient>();
    TClient* raw = client.get();
    client->Socket = socket;
    client->Instrument = std::move(own);
    QPointer<QTcpSocket> guard = socket;
    client->Session = std::make_unique<TScpiSession>(
        *instrument,
        [guard](std::string answer) {
          if (guard && guard->state() == QAbstractSocket::ConnectedState)
            guard->write(answer.data(), qint64(answer.size()));
        },
        [this, raw] { SchedulePump(raw); });
    client->Session->SetSliceOver([this] { return FTurn.elapsed() >= kSliceMs; });
    if (FIdleMs > 0) {
      client->Idle = new QTimer(socket);
      client->Idle->setSingleShot(true);
      client->Idle->setInterval(FIdleMs);
      connect(client->Idle, &QTimer::timeout, this, [this, socket] {
        if (TClient* c = Find(socket))
          IdleTimeout(c);
      });
      client->Idle->start();
    }
    FClients.push_back(std::move(client));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
      if (TClient* c = Find(socket)) {
        if (c->Idle)
          c->Idle->start();
        Turn(c);
      }
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
      if (TClient* c = Find(socket); c && socket->bytesToWrite() < kMaxUnsent / 2)
        Turn(c);
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
    Turn(raw);
  }
}

void TRemoteServer::SetIdleTimeout(int ms) {
  FIdleMs = ms;
}

void TRemoteServer::IdleTimeout(TClient* c) {
  // Waiting for its own answers, or with input not yet read, is not idle.
  if (c->Session->Busy() || c->Socket->bytesAvailable() > 0) {
    c->Idle->start();
    return;
  }
  c->Socket->write(QByteArrayLiteral("Calorix: no command for %1 s; connection closed\n")
                       .replace("%1", QByteArray::number(FIdleMs / 1000)));
  c->Socket->flush();
  Drop(c);
}

void TRemoteServer::Turn(TClient* c) {
  FTurn.start();
  Pump(c);
}

void TRemoteServer::SchedulePump(TClient* client) {
  if (client->PumpQueued)
    return;
  client->PumpQueued = true;
  QPointer<QTcpSocket> socket = client->Socket;
  QTimer::singleShot(0, this, [this, socket] {
    if (TClient* c = Find(socket)) {
      c->PumpQueued = false;
      FTurn.start();
      Feed(c, [c] { c->Session->Resume(); });
      if (Find(socket))
        Pump(c);
    }
  });
}

void TRemoteServer::Pump(TClient* c) {
  QTcpSocket* socket = c->Socket;
  if (!socket)
    return;
  // Lines until the client's turn is over, so that one busy client cannot keep
  // the window and the others waiting.
  while (FTurn.elapsed() < kSliceMs) {
    c->Held = socket->bytesToWrite() > kMaxUnsent;
    if (c->Session->Busy() || c->Held)
      return;
    const qsizetype lf = c->Input.indexOf('\n');
    if (lf >= 0) {
      const QByteArray line = c->Input.left(lf);
      c->Input.remove(0, lf + 1);
      if (LooksLikeHttp(line, c->FirstLine)) {
        // A web page's request (fetch, a form): nothing of it may run.
        std::fprintf(stderr,
                     "Calorix: remote control: %s sent an HTTP request; connection closed\n",
                     qPrintable(socket->peerAddress().toString()));
        Drop(c);
        return;
      }
      c->FirstLine = false;
      const qsizetype length = line.endsWith('\r') ? line.size() - 1 : line.size();
      if (c->Discarding || length > kMaxLine) {
        c->Discarding = false;
        Feed(c, [c] { c->Session->LineTooLong(); });
      } else {
        Feed(c, [c, &line] {
          c->Session->Line(std::string_view(line.constData(), std::size_t(line.size())));
        });
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

void TRemoteServer::Feed(TClient* c, const std::function<void()>& step) {
  c->InSession = true;
  step();
  c->InSession = false;
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
  if (gone->InSession) {
    // Gone while its session runs (an event loop inside a command): the session
    // is freed once that command has returned.
    FGone.push_back(std::move(gone));
    QTimer::singleShot(
        0, this, [this] { std::erase_if(FGone, [](const auto& c) { return !c->InSession; }); });
  }
  emit ClientsChanged(ClientCount());
}

}  // namespace calorix
