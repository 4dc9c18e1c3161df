// Remote control through the real window and real sockets: what a client is
// told by the window's own checks, what no client can do (open a box), and the
// server's bounds (line lengths, clients that never read, slots, the port).
#include "app/MainForm.h"
#include "app/MainFormProgram.h"
#include "app/MainFormRemote.h"
#include "base/Messages.h"
#include "remote/RemoteServer.h"
#include "remote/ScpiSession.h"
#include "tests/support/ui/Connected.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace calorix;
using calorix::test::TConnectedWindow;
using calorix::test::TWindowFixture;

namespace {

constexpr int kWaitMs = 30000;  // generous: the machine may be loaded

TSimThermostatOptions Bath(const char* serial) {
  TSimThermostatOptions o;
  o.Serial = serial;
  o.Noise = 0.0;
  return o;
}

const char kProgram[] = R"({"format": "calorix-program", "version": 1, "name": "P",
  "steps": [{"type": "set", "setpoint": 30}, {"type": "hold", "seconds": 3600}]})";

// A client of the program's port, read through the event loop.
class TClient {
 public:
  explicit TClient(quint16 port) { Socket.connectToHost(QHostAddress::LocalHost, port); }
  void Send(const QByteArray& bytes) { Socket.write(bytes); }
  // The next answer line without its LF, or what stands in for none.
  QByteArray Line() {
    TWindowFixture::WaitFor(
        [&] { return Socket.canReadLine() || Socket.state() == QAbstractSocket::UnconnectedState; },
        kWaitMs);
    if (Socket.canReadLine())
      return Socket.readLine().chopped(1);
    return Socket.state() == QAbstractSocket::UnconnectedState ? "<closed>" : "<no answer>";
  }
  QByteArray Query(const QByteArray& line) {
    Send(line + '\n');
    return Line();
  }
  bool Closed() {
    return TWindowFixture::WaitFor(
        [&] { return Socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs);
  }
  QTcpSocket Socket;
};

// A window with two thermostats and its port open on a free loopback port;
// remote files go to a folder of its own.
struct TRemoteFixture : TConnectedWindow {
  TRemoteWindow* Remote = nullptr;
  QTemporaryDir Files;
  explicit TRemoteFixture(int idleSeconds = 600) : TConnectedWindow(Bath("P-1")) {
    Fx.Plug(Bath("P-2"));
    Remote = W->findChild<TRemoteWindow*>();
    Remote->Settings.Folder = Files.path();
    Remote->Settings.IdleSeconds = idleSeconds;
    Remote->Start(TEndpoint{QStringLiteral("127.0.0.1"), 0});
  }
  TRemoteServer& Server() { return *Remote->Server(); }
  quint16 Port() { return Server().Port(); }
  QString File(const QString& name, const QByteArray& bytes) {
    QFile f(Files.filePath(name));
    if (f.open(QIODevice::WriteOnly))
      f.write(bytes);
    return f.fileName();
  }
  bool RunProgram() {
    QString error;
    return W->ProgramLoad(File("p.json", kProgram), &error) && W->ProgramRun(&error) &&
           W->ProgramState() == TProgramState::Running;
  }
  // Samples in the record, so that RECord:DATA? answers are long.
  void Record(int samples) {
    if (!W->Recording())
      W->RecordBtnClick();
    for (int i = 0; i < samples; ++i)
      W->AddSample(i / 86400.0, 20.0 + i % 100 / 100.0);
  }
};

// Several client lines, one write, and the answer lines the client reads.
struct TRow {
  const char* Name;
  std::function<void(TRemoteFixture&)> Prepare;
  QByteArray Sent;
  QByteArrayList Expected;
  // Runs after the answers came: what else the row checks; true when it holds.
  std::function<bool(TRemoteFixture&, TClient&)> After;
};

QByteArray Long(const QByteArray& line, int length) {
  return line + QByteArray(length - line.size(), ' ');
}

// What a browser sends for fetch("http://127.0.0.1:5025" + path, {method: "POST",
// mode: "no-cors", body: "SOUR:TEMP 40\n"}) from a page of another site.
QByteArray Fetch(const QByteArray& path) {
  return "POST " + path +
         " HTTP/1.1\r\n"
         "Host: 127.0.0.1:5025\r\n"
         "Connection: keep-alive\r\n"
         "Content-Length: 13\r\n"
         "sec-ch-ua: \"Chromium\";v=\"120\", \"Not?A_Brand\";v=\"8\"\r\n"
         "sec-ch-ua-platform: \"Linux\"\r\n"
         "sec-ch-ua-mobile: ?0\r\n"
         "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.0.0 Safari/537.36\r\n"
         "Content-Type: text/plain;charset=UTF-8\r\n"
         "Accept: */*\r\n"
         "Origin: https://example.org\r\n"
         "Sec-Fetch-Site: cross-site\r\n"
         "Sec-Fetch-Mode: no-cors\r\n"
         "Sec-Fetch-Dest: empty\r\n"
         "Referer: https://example.org/\r\n"
         "Accept-Encoding: gzip, deflate, br\r\n"
         "Accept-Language: en-US,en;q=0.9\r\n"
         "\r\n"
         "SOUR:TEMP 40\n";
}

// The connection was closed without an answer and the bath kept its setpoint.
bool Refused(TRemoteFixture& f, TClient& c) {
  return c.Closed() && c.Socket.bytesAvailable() == 0 && f.Thermostat->Setpoint() == 25.0;
}

bool SetpointIs(TRemoteFixture& f, TClient& c, double value) {
  return c.Query("*OPC?") == "1" &&
         TWindowFixture::WaitFor([&] { return f.Thermostat->Setpoint() == value; }, kWaitMs);
}

QByteArray Repeated(const QByteArray& command, int times) {
  QByteArrayList list;
  for (int i = 0; i < times; ++i)
    list << command;
  return list.join(';');
}

}  // namespace

class TestRemote : public QObject {
  Q_OBJECT

 private slots:
  void clientsAreAnsweredWithinTheBounds() {
    const TRow rows[] = {
        // The window's own checks, as a client hears them.
        {"a setpoint while a program runs",
         [](TRemoteFixture& f) { QVERIFY(f.RunProgram()); },
         "TEMP 31\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;a temperature program is running; PROGram:STATe PAUSe first")"},
         {}},
        {"a setpoint the thermostat refuses (status 5)",
         [](TRemoteFixture& f) { f.W->Program()->Limits().Max = 400; },
         "TEMP 350\nSYST:ERR?\n",
         {R"(-222,"Data out of range;refused by the thermostat")"},
         {}},
        {"the protection bits, bit 0 last",
         [](TRemoteFixture& f) { f.Thermostat->SetAlarm("100110"); },
         "STAT:PROT?\n",
         {"38"},
         {}},
        // Another thermostat selected during a program pauses it: the notice is
        // no box but the client's error and the status bar's text.
        {"a select that pauses a program opens no box",
         [](TRemoteFixture& f) { QVERIFY(f.RunProgram()); },
         "SYST:DEV \"P-2\";SYST:DEV?\nSYST:ERR?\n",
         {"\"P-2\"",
          "-200,\"Execution error;the temperature program paused; see the window's status bar\""},
         [](TRemoteFixture& f, TClient&) {
           return f.Fx.Prompts.Asked.empty() && f.W->ProgramState() == TProgramState::Paused &&
                  f.W->StatusText(1).contains(LoadStr(1053));
         }},
        // Line lengths: 4,096 bytes without the line end are a line.
        {"a line of 4096 bytes",
         {},
         Long("*OPC?", 4096) + "\nSYST:ERR?\n",
         {"1", "0,\"No error\""},
         {}},
        {"a line of 4096 bytes and CR LF",
         {},
         Long("*OPC?", 4096) + "\r\nSYST:ERR?\n",
         {"1", "0,\"No error\""},
         {}},
        {"a line of 4097 bytes",
         {},
         Long("*OPC?", 4097) + "\n*OPC?\nSYST:ERR?\n",
         {"1", R"(-223,"Too much data")"},
         {}},
        // The rest of a line that never ends is dropped as it comes.
        {"a line that never ends",
         {},
         QByteArray(5000, 'A'),
         {},
         [](TRemoteFixture&, TClient& c) {
           for (int i = 0; i < 50; ++i)
             c.Send(QByteArray(5000, 'B'));
           c.Send("\n*OPC?\n");
           return c.Line() == "1" && c.Query("SYST:ERR?") == R"(-223,"Too much data")";
         }},
        // A web page's request is refused before any of its lines runs.
        {"a browser's fetch", {}, Fetch("/"), {}, Refused},
        {"a fetch whose first line is too long",
         {},
         Fetch("/" + QByteArray(5000, 'a')),
         {},
         Refused},
        {"an image's request",
         {},
         "GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1:5025\r\n\r\n",
         {},
         Refused},
        // Setpoints within the limits, written with two decimals.
        {"a setpoint above the limits",
         {},
         "TEMP 150.01\nSYST:ERR?\n",
         {R"(-222,"Data out of range;outside the setpoint limits -50..150")"},
         [](TRemoteFixture& f, TClient&) { return f.Thermostat->Setpoint() == 25.0; }},
        {"a setpoint is written with two decimals",
         {},
         "TEMP 21.126\n",
         {},
         [](TRemoteFixture& f, TClient& c) { return SetpointIs(f, c, 21.13); }},
        {"an exponent is written as a number",
         {},
         "TEMP 1e2\n",
         {},
         [](TRemoteFixture& f, TClient& c) { return SetpointIs(f, c, 100.0); }},
        // Files only inside the folder, programs only from small regular files.
        {"an oversized program file",
         [](TRemoteFixture& f) { f.File("big.json", QByteArray(2 << 20, ' ') + kProgram); },
         "PROG:LOAD \"big.json\"\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;the file is larger than 1048576 bytes")"},
         {}},
        {"a program from the folder",
         [](TRemoteFixture& f) { f.File("p.json", kProgram); },
         "PROG:LOAD \"p.json\";SYST:ERR?\n",
         {"0,\"No error\""},
         [](TRemoteFixture& f, TClient&) { return f.W->ProgramName() == "P"; }},
        {"a save through '..'",
         {},
         "REC:SAVE \"sub/../../x.csv\"\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;'..' is not allowed in a file name")"},
         {}},
        {"a save through a link out of the folder",
         [](TRemoteFixture& f) { QVERIFY(QFile::link(QDir::tempPath(), f.Files.filePath("out"))); },
         "REC:SAVE \"out/calorix-remote-test.csv\"\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;outside the remote folder")"},
         {}},
        {"a save to an absolute path elsewhere",
         {},
         "REC:SAVE \"/proc/self/calorix.csv\"\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;outside the remote folder")"},
         {}},
        {"a saved record clears and is in the folder",
         [](TRemoteFixture& f) { f.Record(3); },
         "REC:SAVE \"run.csv\"\nREC:CLE\nREC:POIN?;SYST:ERR?\n",
         {"0;0,\"No error\""},
         [](TRemoteFixture& f, TClient&) {
           QFile saved(f.Files.filePath("run.csv"));
           return saved.open(QIODevice::ReadOnly) && saved.readAll().count('\n') == 3 &&
                  !f.W->Modified();
         }},
        // Bounded work.
        {"a flood of bad setpoints queues nothing",
         {},
         QByteArray("TEMP x\n").repeated(2000) + "*OPC?\n",
         {"1"},
         [](TRemoteFixture& f, TClient&) {
           return f.W->Requests().Requests().size() <= TRemoteWindow::kMaxQueued;
         }},
        {"one line of many long answers",
         [](TRemoteFixture& f) { f.Record(15000); },
         Repeated("REC:DATA?", 409) + "\nSYST:ERR?\n",
         {},
         [](TRemoteFixture&, TClient& c) {
           const QByteArray answers = c.Line();
           const QByteArray error = c.Line();
           // Whole answers only: each is 15000 pairs.
           return std::size_t(answers.size()) <= TScpiSession::kMaxLineAnswer &&
                  answers.split(';').size() >= 2 &&
                  answers.split(';').back().count(',') == 2 * 15000 - 1 &&
                  error.startsWith("-223,");
         }},
        {"device strings are printable",
         [](TRemoteFixture& f) {
           TSimThermostatOptions o = Bath("S\r\n\"1");
           o.Product = "Thermostat;\x01x";
           f.Fx.Plug(o);
           QVERIFY(TWindowFixture::WaitFor([&] { return f.W->Devices().size() == 3; }));
         },
         "SYST:DEV:CAT?\nSYST:DEV 'S??\"1';*IDN?\n",
         {R"("P-1","P-2","S??""1")", "Calorix,Thermostat ?x,S??\"1," CALORIX_VERSION},
         {}},
        // Last: before the mend, it blocked the window for good.
        {"a program from a named pipe",
         [](TRemoteFixture& f) {
           QCOMPARE(::mkfifo(qPrintable(f.Files.filePath("pipe.json")), 0600), 0);
         },
         "PROG:LOAD \"pipe.json\"\nSYST:ERR?\n",
         {R"(-221,"Settings conflict;not a regular file")"},
         {}},
    };
    QStringList failed;  // every row runs; each failure is named
    for (const TRow& row : rows) {
      auto fail = [&](const QString& why) {
        failed << QStringLiteral("%1: %2").arg(row.Name, why);
        qWarning("%s", qPrintable(failed.back()));
      };
      TRemoteFixture f;
      QVERIFY2(f.Remote->Server(), row.Name);
      // A box opened by a client's command: the client leaves while it is open.
      std::unique_ptr<TClient> client = std::make_unique<TClient>(f.Port());
      f.Fx.Prompts.OnError = [&](const QString&) {
        client->Socket.abort();
        TWindowFixture::WaitFor([&] { return f.Server().ClientCount() == 0; }, kWaitMs);
      };
      if (row.Prepare)
        row.Prepare(f);
      client->Send(row.Sent);
      bool answered = true;
      for (const QByteArray& expected : row.Expected) {
        const QByteArray line = client->Line();
        if (line != expected && answered)
          fail(QStringLiteral("%1 instead of %2").arg(line.left(200), expected));
        answered = answered && line == expected;
      }
      if (answered && row.After && !row.After(f, *client))
        fail(QStringLiteral("the check after the answers"));
    }
    QVERIFY2(failed.isEmpty(), qPrintable(failed.join('\n')));
  }

  // A client that sends and never reads: its input waits once its answers
  // pile up, and the others are served meanwhile.
  void aClientThatNeverReadsIsHeldBack() {
    TRemoteFixture f;
    f.Record(2000);  // about 30 KB an answer
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(f.Port());
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const QByteArray line = Long("REC:DATA?", 4000) + '\n';
    qint64 sent = 0;
    constexpr qint64 kCap = 256 << 20;  // far beyond what the kernel and the server hold
    const bool held = TWindowFixture::WaitFor(
        [&] {
          while (sent<kCap&& ::send(fd, line.constData(), std::size_t(line.size()), 0)> 0)
            sent += line.size();
          return f.Server().HeldClients() == 1;
        },
        120000);
    QVERIFY2(held, qPrintable(QStringLiteral("sent %1 bytes").arg(sent)));
    TClient other(f.Port());
    QCOMPARE(other.Query("*OPC?"), QByteArray("1"));
    ::close(fd);
    QVERIFY(TWindowFixture::WaitFor([&] { return f.Server().ClientCount() == 1; }, kWaitMs));
  }

  // Clients that send nothing are closed after the idle time, and their
  // slots are taken again.
  void idleClientsAreClosed() {
    TRemoteFixture f(1);
    std::vector<std::unique_ptr<TClient>> idle;
    for (int i = 0; i < 8; ++i)
      idle.push_back(std::make_unique<TClient>(f.Port()));
    for (auto& c : idle) {
      QVERIFY(c->Closed());
      QCOMPARE(c->Line(), QByteArray("Calorix: no command for 1 s; connection closed"));
    }
    TClient next(f.Port());
    QCOMPARE(next.Query("*OPC?"), QByteArray("1"));
  }

  // Eight clients at most; the slots of those gone are taken again.
  void slotsAreFreedWhenClientsLeave() {
    TRemoteFixture f;
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 8; ++i) {
      clients.push_back(std::make_unique<TClient>(f.Port()));
      QCOMPARE(clients.back()->Query("*OPC?"), QByteArray("1"));
    }
    TClient ninth(f.Port());
    QVERIFY(ninth.Line().contains("at most 8 clients"));
    QVERIFY(ninth.Closed());
    clients.erase(clients.begin(), clients.begin() + 7);
    QVERIFY(TWindowFixture::WaitFor([&] { return f.Server().ClientCount() == 1; }, kWaitMs));
    for (int i = 0; i < 7; ++i) {
      clients.push_back(std::make_unique<TClient>(f.Port()));
      QCOMPARE(clients.back()->Query("*OPC?"), QByteArray("1"));
    }
    TClient another(f.Port());
    QVERIFY(another.Line().contains("at most 8 clients"));
  }

  // A port in use: the status bar says so, the window runs on.
  void aPortInUseIsReported() {
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    TRemoteFixture f;
    f.Remote->Start(TEndpoint{QStringLiteral("127.0.0.1"), taken.serverPort()});
    QVERIFY(!f.Remote->Server());
    auto* panel = f.W->findChild<QLabel*>(QStringLiteral("RemotePanel"));
    QVERIFY(panel && !panel->isHidden());
    QVERIFY2(panel->text().contains(QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())),
             qPrintable(panel->text()));
    QVERIFY(f.Poll());
  }
};

QTEST_MAIN(TestRemote)
#include "test_remote.moc"
