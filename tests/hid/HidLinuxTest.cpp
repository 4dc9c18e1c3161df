#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/HidLinux.h"
#include "link/SimThermostat.h"

namespace calorix {
namespace {

struct TInputCase {
  std::string Name;
  std::vector<uint8_t> Read;
  bool Numbered;
  uint16_t Length;
  std::vector<uint8_t> Report;
};

class HidrawInput : public ::testing::TestWithParam<TInputCase> {};

TEST_P(HidrawInput, HandedOnAsWindowsDoes) {
  const auto& c = GetParam();
  EXPECT_EQ(HidrawInputToReport(c.Read.data(), c.Read.size(), c.Numbered, c.Length), c.Report);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, HidrawInput,
    ::testing::Values(
        // Unnumbered: the report ID 0 is put in front, then padded.
        TInputCase{"UnnumberedPadded", {0x41, 0x0D}, false, 5, {0, 0x41, 0x0D, 0, 0}},
        TInputCase{"UnnumberedFull", {1, 2, 3, 4}, false, 5, {0, 1, 2, 3, 4}},
        // Numbered: hidraw already gives the ID byte.
        TInputCase{"NumberedPadded", {7, 1}, true, 4, {7, 1, 0, 0}},
        TInputCase{"LongerThanExpectedKept", {1, 2, 3}, false, 2, {0, 1, 2, 3}},
        TInputCase{"NoLengthKnown", {9}, false, 0, {0, 9}}),
    [](const auto& info) { return info.param.Name; });

TEST(HidrawOutput, PaddedOrCutToTheOutputLength) {
  const std::vector<uint8_t> report = {0, 1, 2, 3};
  EXPECT_EQ(HidrawOutputFromReport(report.data(), report.size(), 6),
            (std::vector<uint8_t>{0, 1, 2, 3, 0, 0}));
  EXPECT_EQ(HidrawOutputFromReport(report.data(), report.size(), 2), (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(HidrawOutputFromReport(report.data(), report.size(), 0), report);
  EXPECT_TRUE(HidrawOutputFromReport(nullptr, 10, 0).empty());
}

TEST(HidAccess, MessageNamesTheNodeAndTheRule) {
  const QString text = HidAccessErrorText("/dev/hidraw3");
  EXPECT_TRUE(text.contains("/dev/hidraw3"));
  EXPECT_TRUE(text.contains("udev"));
}

TEST(HidLinux, EnumerationOfThisMachineDoesNotFail) {
  auto platform = MakeLinuxPlatform();
  ASSERT_NE(platform, nullptr);
  for (const auto& info : platform->Enumerate()) {
    EXPECT_FALSE(info.Identity.isEmpty());
    EXPECT_FALSE(info.DevicePath.isEmpty());
  }
  THidInterfaceInfo missing;
  missing.Identity = "/sys/devices/nothing/hidraw/hidraw99";
  missing.DevicePath = "/dev/nonexistent-hidraw";
  QString error;
  EXPECT_EQ(platform->Open(missing, error), nullptr);
  EXPECT_FALSE(error.isEmpty());
  THidStrings strings;
  EXPECT_FALSE(platform->ReadStrings(missing, strings));
}

// A FIFO stands in for the node: what the "device" writes comes back as a
// report with the ID in front, and a written report arrives padded.
TEST(HidLinux, ChannelFramesReadsAndWrites) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray fifo = (dir.path() + "/hidraw").toLocal8Bit();
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  THidInterfaceInfo info;
  info.DevicePath = QString::fromLocal8Bit(fifo);
  info.ReportDescriptor = TSimThermostat::ReportDescriptor();
  auto platform = MakeLinuxPlatform();
  QString error;
  auto channel = platform->Open(info, error);
  ASSERT_NE(channel, nullptr) << error.toStdString();
  const int device = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(device, 0);

  std::vector<uint8_t> report;
  EXPECT_EQ(channel->Read(report, 0), IHidChannel::TReadResult::Timeout);
  channel->Interrupt();
  EXPECT_EQ(channel->Read(report, 5000), IHidChannel::TReadResult::Interrupted);

  ASSERT_EQ(::write(device, "ok\r", 3), 3);
  ASSERT_EQ(channel->Read(report, 5000), IHidChannel::TReadResult::Report);
  ASSERT_EQ(report.size(), 65u);
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(report[1], 'o');
  EXPECT_EQ(report[3], '\r');
  EXPECT_EQ(report[4], 0);

  const uint8_t out[] = {0, ':', '1'};
  size_t written = 0;
  EXPECT_TRUE(channel->Write(out, sizeof out, written));
  EXPECT_EQ(written, sizeof out);
  uint8_t got[128];
  EXPECT_EQ(::read(device, got, sizeof got), 65);
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[1], ':');
  EXPECT_EQ(got[64], 0);
  ::close(device);
}

// Two opens of one node, as two copies of the program make them: the lock is
// one's at a time, and another tool's flock counts too.
TEST(HidLinux, ChannelLockIsExclusiveBetweenOpens) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.path() + "/hidraw";
  QFile node(path);
  ASSERT_TRUE(node.open(QIODevice::WriteOnly));
  node.close();
  THidInterfaceInfo info;
  info.DevicePath = path;
  info.ReportDescriptor = TSimThermostat::ReportDescriptor();
  auto platform = MakeLinuxPlatform();
  QString error;
  auto first = platform->Open(info, error);
  auto second = platform->Open(info, error);
  ASSERT_TRUE(first && second) << error.toStdString();
  EXPECT_TRUE(first->Lock());
  EXPECT_TRUE(first->Lock());  // its holder may take it again
  EXPECT_FALSE(second->Lock());
  first->Unlock();
  EXPECT_TRUE(second->Lock());
  EXPECT_FALSE(first->Lock());
  second.reset();  // closing gives it back
  EXPECT_TRUE(first->Lock());
  first.reset();
  const int tool = ::open(path.toLocal8Bit().constData(), O_RDWR);
  ASSERT_GE(tool, 0);
  ASSERT_EQ(::flock(tool, LOCK_EX | LOCK_NB), 0);
  auto third = platform->Open(info, error);
  ASSERT_TRUE(third) << error.toStdString();
  EXPECT_FALSE(third->Lock());
  ::close(tool);
  EXPECT_TRUE(third->Lock());
}

// ---------------------------------------------------------------- fake sysfs

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool Link(const QString& target, const QString& name) {
  QDir().mkpath(QFileInfo(name).path());
  return ::symlink(target.toLocal8Bit().constData(), name.toLocal8Bit().constData()) == 0;
}

// A tree that looks like /sys with a USB thermostat, a HID device without a USB
// parent, and a hidraw entry whose node is missing. Links point into /sys, where
// the tree is mounted.
bool BuildTree(const QString& root) {
  const QString usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";
  const QString hid = usb + "/1-1:1.0/0003:1234:5678.0007";
  const QString bt = "/devices/virtual/misc/uhid/0005:1234:5679.0008";
  const QString lost = "/devices/virtual/misc/uhid/0005:1234:567A.0009";
  bool ok = true;
  for (const char* d : {"/bus/usb/devices", "/bus/hid/devices", "/class/hidraw"}) {
    ok = ok && QDir().mkpath(root + QLatin1String(d));
  }
  ok = ok && WriteFile(root + usb + "/uevent", "DEVTYPE=usb_device\nDRIVER=usb\n");
  ok = ok && Link("/sys/bus/usb", root + usb + "/subsystem");
  ok = ok && WriteFile(root + usb + "/manufacturer", "Norvik\n");
  ok = ok && WriteFile(root + usb + "/product", "USB Thermostat\n");
  ok = ok && WriteFile(root + usb + "/serial", "T-0042\n");
  ok = ok && WriteFile(root + usb + "/1-1:1.0/uevent", "DEVTYPE=usb_interface\n");
  ok = ok && Link("/sys/bus/usb", root + usb + "/1-1:1.0/subsystem");
  const struct {
    QString Dir, Name, Uevent;
  } hids[] = {{hid, "hidraw0", "HID_NAME=Norvik USB Thermostat\nHID_UNIQ=T-0042\n"},
              {bt, "hidraw1", "HID_NAME=Norvik Wireless\nHID_UNIQ=aa:bb:cc\n"},
              {lost, "hidraw2", "HID_NAME=Gone\n"}};
  int minor = 0;
  for (const auto& h : hids) {
    ok = ok && WriteFile(root + h.Dir + "/uevent", h.Uevent.toUtf8());
    ok = ok && Link("/sys/bus/hid", root + h.Dir + "/subsystem");
    ok = ok && WriteFile(root + h.Dir + "/report_descriptor", TSimThermostat::ReportDescriptor());
    const QString raw = h.Dir + "/hidraw/" + h.Name;
    ok = ok &&
         WriteFile(
             root + raw + "/uevent",
             QStringLiteral("MAJOR=240\nMINOR=%1\nDEVNAME=%2\n").arg(minor++).arg(h.Name).toUtf8());
    ok = ok && Link("/sys/class/hidraw", root + raw + "/subsystem");
    ok = ok && Link("/sys" + h.Dir, root + raw + "/device");
    ok = ok && Link("/sys" + raw, root + "/class/hidraw/" + h.Name);
  }
  return ok;
}

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY);
  const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (fd >= 0)
    ::close(fd);
  return ok;
}

// Runs in a child process: a private mount namespace with the tree over /sys
// and a scratch /dev; an ordinary user gets it inside a user namespace of its
// own where it is root. Writes one line per interface to fd, or exits with a
// code saying what could not be set up.
[[noreturn]] void EnumerateInNamespace(const QString& root, int fd) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
        !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
      ::_exit(10);
  } else if (::unshare(CLONE_NEWNS) != 0) {
    ::_exit(10);
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    ::_exit(11);
  if (::mount(root.toLocal8Bit().constData(), "/sys", nullptr, MS_BIND, nullptr) != 0)
    ::_exit(12);
  if (::mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0)
    ::_exit(13);
  WriteFile("/dev/hidraw0", {});
  WriteFile("/dev/hidraw1", {});
  // The second node may be opened by nobody: mode 0 stops every user without
  // the capability to override file modes.
  if (::chmod("/dev/hidraw0", 0666) != 0 || ::chmod("/dev/hidraw1", 0) != 0)
    ::_exit(14);
  // As an ordinary user: root drops to nobody; in a user namespace, where no
  // other user exists, its root drops every capability instead.
  if (uid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      ::_exit(15);
  } else {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (::syscall(SYS_capset, &header, none) != 0)
      ::_exit(15);
  }
  ::setenv("SYSTEMD_DEVICE_VERIFY_SYSFS", "0", 1);
  QByteArray out;
  for (const auto& info : MakeLinuxPlatform()->Enumerate()) {
    out += info.Identity.toUtf8() + "|" + info.DevicePath.toUtf8() + "|" +
           info.Strings.Manufacturer + "|" + info.Strings.Product + "|" + info.Strings.Serial +
           "|" + QByteArray::number(info.InputReportLength) + "|" +
           QByteArray::number(info.OutputReportLength) + "|" +
           QByteArray::number(int(info.Access)) + "|" + info.AccessError.toUtf8() + "\n";
  }
  const bool written = ::write(fd, out.constData(), size_t(out.size())) == out.size();
  ::_exit(written ? 0 : 16);
}

TEST(HidLinux, EnumeratesAFakeSysfsTree) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(BuildTree(dir.path()));
  ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    EnumerateInNamespace(dir.path(), fds[1]);
  }
  ::close(fds[1]);
  QByteArray text;
  char buf[4096];
  for (;;) {
    pollfd p = {fds[0], POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0)
      break;  // a wedged child must not hang the test
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0)
      break;
    text.append(buf, n);
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  const int code = WEXITSTATUS(status);
  if (code >= 10 && code <= 15) {
    static const char* const kSteps[] = {"unshare",
                                         "making / private",
                                         "bind-mounting the tree over /sys",
                                         "mounting a tmpfs over /dev",
                                         "chmod of the nodes",
                                         "dropping privileges"};
    GTEST_SKIP() << "no fake /sys on this machine: " << kSteps[code - 10] << " failed";
  }
  ASSERT_EQ(code, 0);
  // An enumerator that finds nothing is the likeliest fault: no skip here.
  ASSERT_FALSE(text.isEmpty()) << "nothing enumerated in the fake /sys tree";
  const QList<QByteArray> lines = text.trimmed().split('\n');
  ASSERT_EQ(lines.size(), 2) << text.toStdString();  // hidraw2 has no node: left out
  const QList<QByteArray> usb = lines[0].split('|');
  ASSERT_EQ(usb.size(), 9);
  EXPECT_EQ(usb[0],
            "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/0003:1234:5678.0007/hidraw/"
            "hidraw0");
  EXPECT_EQ(usb[1], "/dev/hidraw0");
  EXPECT_EQ(usb[2], "Norvik");
  EXPECT_EQ(usb[3], "USB Thermostat");
  EXPECT_EQ(usb[4], "T-0042");
  EXPECT_EQ(usb[5], "65");
  EXPECT_EQ(usb[6], "65");
  EXPECT_EQ(usb[7], QByteArray::number(int(THidAccess::ReadWrite)));
  EXPECT_EQ(usb[8], "");
  const QList<QByteArray> bt = lines[1].split('|');
  ASSERT_EQ(bt.size(), 9);
  EXPECT_EQ(bt[1], "/dev/hidraw1");
  EXPECT_EQ(bt[2], "");  // no USB parent: no maker string
  EXPECT_EQ(bt[3], "Norvik Wireless");
  EXPECT_EQ(bt[4], "aa:bb:cc");
  // A node that may not be opened still counts, and says why.
  EXPECT_EQ(bt[7], QByteArray::number(int(THidAccess::None)));
  EXPECT_EQ(QString::fromUtf8(bt[8]), HidAccessErrorText("/dev/hidraw1"));
}

}  // namespace
}  // namespace calorix
