// COM ports on POSIX terminals. COM n is the file "comN" in the folder named
// by PONDERIXCOMDIR (a device node or a link to one), or else the nth of
// the machine's serial devices as the kernel lists them (USB adapters
// first); a device named by its path gets a number of its own.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/posix/abort_release_posix.h"
#include "platform/posix/local_names_posix.h"
#include "platform/posix/low_latency_posix.h"
#include "platform/posix/serial_ports_linux.h"
#include "platform/posix/serial_speed_posix.h"
#include "platform/serial_device.h"
#include "platform/signals.h"
#include "platform/system_error.h"

namespace kel {

namespace {

constexpr size_t kQueueLimit = 65536;  // bytes held back when the kernel is full

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left < 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Line-error counters of a real UART; a pseudo-terminal has none.
struct ErrorCounts {
  long frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

bool ReadErrorCounts(int fd, ErrorCounts& counts) {
#if defined(__linux__)
  struct serial_icounter_struct ic {};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  counts.frame = ic.frame;
  counts.overrun = ic.overrun;
  counts.parity = ic.parity;
  counts.brk = ic.brk;
  counts.bufOverrun = ic.buf_overrun;
  return true;
#else
  (void)fd;
  (void)counts;
  return false;
#endif
}

// PONDERIXCTS=1: a port that cannot report its modem lines (a
// pseudo-terminal) counts as raising CTS, so that a unit simulator served on
// one can offer the overlapped transfers. Real ports are not affected.
bool CtsAssumedWithoutModemLines() { return SystemEnvironment().Get("PONDERIXCTS") == "1"; }

// Lets a port go the way it was found: its own settings back (echo, speed,
// parity), exclusive mode off for the next opener (on a pseudo-terminal
// that mode would outlive the close), then closed.
void ReleasePort(int fd, const TerminalSettings& original) {
  ForgetPortForAbort(fd);
  RestoreTerminalSettings(fd, original);
  ioctl(fd, TIOCNXCL);
  close(fd);
}

class PosixSerialDevice : public SerialDevice {
 public:
  PosixSerialDevice(int fd, const TerminalSettings& original, const LatencyHold& latency)
      : fd_(fd),
        original_(original),
        latency_(latency),
        ctsWithoutModemLines_(CtsAssumedWithoutModemLines()) {
    hasCounts_ = ReadErrorCounts(fd_, counts_);
  }
  ~PosixSerialDevice() override {
    IoctlDriverFlags flags(fd_);
    RestoreLatency(flags, latency_);
    ReleasePort(fd_, original_);
  }

  int Read(uint8_t* data, size_t max) override {
    PushPending();
    if (max == 0) return 0;
    for (;;) {
      const ssize_t n = read(fd_, data, max);
      if (n >= 0) return static_cast<int>(n);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return Fail();
    }
  }

  bool WaitReadable(uint32_t timeoutMs) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const int stopFd = StopSignalFd();
    for (;;) {
      PushPending();
      pollfd fds[2] = {{fd_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0},
                       {stopFd, POLLIN, 0}};
      const int count = stopFd >= 0 ? 2 : 1;
      const int r = poll(fds, count, RemainingMs(deadline));
      if (r < 0 && errno != EINTR) return false;
      if (count == 2 && (fds[1].revents & POLLIN)) ExitIfStopRequested();
      // A port whose far end has gone (a closed pseudo-terminal, a pulled
      // adapter) also reports input, which reads as nothing: it counts as
      // readable only while bytes from before are left.
      const bool gone = r > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL));
      if (r > 0 && (fds[0].revents & POLLIN) && (!gone || BytesWaiting() > 0)) return true;
      if (gone) {
        // Let the read report it, but without spinning; a stop still ends
        // the wait.
        const int left = RemainingMs(deadline);
        if (left > 0) {
          pollfd stop = {stopFd, POLLIN, 0};
          if (poll(&stop, stopFd >= 0 ? 1 : 0, left) > 0) ExitIfStopRequested();
        }
        return true;
      }
      if (RemainingMs(deadline) == 0) return false;
    }
  }

  int Write(const uint8_t* data, size_t length) override {
    if (!PushPending()) return -1;
    size_t taken = 0;
    if (pending_.empty()) {
      while (taken < length) {
        const ssize_t n = write(fd_, data + taken, length - taken);
        if (n > 0) {
          taken += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
          Fail();
          return taken > 0 ? static_cast<int>(taken) : -1;
        }
        break;
      }
    }
    // What the kernel did not take waits here and goes out on later calls.
    const size_t room = kQueueLimit - pending_.size();
    const size_t keep = length - taken < room ? length - taken : room;
    pending_.insert(pending_.end(), data + taken, data + taken + keep);
    return static_cast<int>(taken + keep);
  }

  bool Drain(uint32_t timeoutMs) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (!PushPending()) return false;
      int queued = 0;
      // Bytes still in the kernel's queue leave at the current speed; a
      // reopen at another speed must wait for them.
      const bool inKernel = ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0;
      if (pending_.empty() && !inKernel) return true;
      const int left = RemainingMs(deadline);
      if (left == 0) {
        failure_.timedOut = true;
        failure_.systemText = SystemErrorText(ETIMEDOUT);
        return false;
      }
      pollfd fd = {fd_, POLLOUT, 0};
      if (pending_.empty() || poll(&fd, 1, left < 5 ? left : 5) <= 0) {
        poll(nullptr, 0, 1);
      }
    }
  }

  bool Purge() override {
    pending_.clear();
    if (tcflush(fd_, TCIOFLUSH) != 0) return Fail() == 0;
    return true;
  }

  bool TakeLineErrors(LineErrors& errors) override {
    errors = LineErrors{};
    ErrorCounts now;
    if (!hasCounts_ || !ReadErrorCounts(fd_, now)) return true;
    errors.framing = now.frame != counts_.frame;
    errors.overrun = now.overrun != counts_.overrun;
    errors.parity = now.parity != counts_.parity;
    errors.breakSeen = now.brk != counts_.brk;
    errors.other = now.bufOverrun != counts_.bufOverrun;
    counts_ = now;
    return true;
  }

  bool Cts() override {
    int status = 0;
    if (ioctl(fd_, TIOCMGET, &status) != 0) {
      Fail();
      return ctsWithoutModemLines_;
    }
    return (status & TIOCM_CTS) != 0;
  }

  bool SetSpeedInPlace(int32_t baudRate) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return Fail() == 0;
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | CRTSCTS)) | CS8 | CSTOPB;
    tio.c_iflag &= ~INPCK;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return Fail() == 0;
    if (!SetLineSpeed(fd_, baudRate)) return Fail() == 0;
    return true;
  }

  const SerialFailure& LastFailure() override { return failure_; }

 private:
  // Bytes received and not yet read.
  int BytesWaiting() const {
    int n = 0;
    return ioctl(fd_, FIONREAD, &n) == 0 ? n : 0;
  }

  // Records errno's failure; -1 for the callers that return a count.
  int Fail() {
    failure_.timedOut = false;
    failure_.systemText = SystemErrorText(static_cast<unsigned long>(errno));
    return -1;
  }

  // Hands held-back bytes to the kernel as far as it takes them.
  bool PushPending() {
    while (!pending_.empty()) {
      const ssize_t n = write(fd_, pending_.data(), pending_.size());
      if (n > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        Fail();
        pending_.clear();
        return false;
      }
      break;
    }
    return true;
  }

  int fd_;
  TerminalSettings original_;
  LatencyHold latency_;
  bool ctsWithoutModemLines_;
  std::vector<uint8_t> pending_;
  SerialFailure failure_;
  bool hasCounts_ = false;
  ErrorCounts counts_;
};

SerialOpenOutcome OutcomeOf(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return SerialOpenOutcome::kNotPresent;
    case EACCES:
    case EPERM:
      return SerialOpenOutcome::kPermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return SerialOpenOutcome::kInUse;
    default:
      return SerialOpenOutcome::kOther;
  }
}

// The name of user or group `id` (from the local account files, which
// LocalAccountName reads directly), or its number when it has none there.
std::string NameOf(const char* table, unsigned long id) {
  const std::string name = LocalAccountName(table, id);
  return name.empty() ? std::to_string(id) : name;
}

// Who can give a refused user access to `device`: its group, when members
// of it may read and write it and it is not root's (joining root's group is
// no way to use a port); otherwise only its owner or an administrator.
void NoteWhoGrantsAccess(const std::string& device, SerialOpenError& error) {
  struct stat info;
  if (stat(device.c_str(), &info) != 0) return;
  const bool groupUses = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupUses && info.st_gid != 0) {
    error.deviceGroup = NameOf("/etc/group", info.st_gid);
  } else {
    error.deviceOwner = NameOf("/etc/passwd", info.st_uid);
  }
}

// Fills `error` from errno as it stands, the outcome given or read from it.
void RecordOpenError(SerialOpenError& error, int err, SerialOpenOutcome outcome) {
  error.outcome = outcome;
  error.systemCode = err;
  error.systemText = SystemErrorText(static_cast<unsigned long>(err));
  if (outcome == SerialOpenOutcome::kPermissionDenied) NoteWhoGrantsAccess(error.device, error);
}

class PosixSerialPorts : public SerialPortOpener {
 public:
  std::unique_ptr<SerialDevice> Open(int portNumber, const SerialConfig& config,
                                     SerialOpenError& error) override {
    error = SerialOpenError{};
    if (portNumber < 1) {
      error.device = "COM" + std::to_string(portNumber);
      RecordOpenError(error, ENOENT, SerialOpenOutcome::kNotPresent);
      return nullptr;
    }
    const std::string path = PortPath(portNumber);
    if (path.empty()) {
      error.device = "COM" + std::to_string(portNumber);
      RecordOpenError(error, ENOENT, SerialOpenOutcome::kNotPresent);
      return nullptr;
    }
    // The device a port file leads to, for messages: comN is usually a link.
    error.device = ResolveLinks(path);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      RecordOpenError(error, err, OutcomeOf(err));
      return nullptr;
    }
    TerminalSettings original;
    if (!SaveTerminalSettings(fd, original)) {
      // Not a terminal at all (a plain file named as the port, say).
      const int err = errno;
      close(fd);
      RecordOpenError(error, err, SerialOpenOutcome::kOther);
      return nullptr;
    }
    if (!Configure(fd, config, error)) {
      ReleasePort(fd, original);
      return nullptr;
    }
    HoldPortForAbort(fd, original);
    IoctlDriverFlags flags(fd);
    const LatencyHold latency = RequestLowLatency(flags);
    return std::make_unique<PosixSerialDevice>(fd, original, latency);
  }

  bool ListPorts(std::vector<PortListing>& ports) override {
    const Table& table = PortTable();
    ports = table.ports;
    return table.listed;
  }

  int NumberForDevice(const std::string& path) override {
    const Table& table = PortTable();
    const std::string device = ResolveLinks(path);
    for (const PortListing& port : table.ports) {
      if (ResolveLinks(port.device) == device) return port.number;
    }
    for (const auto& [number, named] : named_) {
      if (ResolveLinks(named) == device) return number;
    }
    // The lowest number that no listed port has.
    int number = 1;
    const auto taken = [&](int n) {
      return named_.count(n) != 0 ||
             std::any_of(table.ports.begin(), table.ports.end(),
                         [n](const PortListing& port) { return port.number == n; });
    };
    while (taken(number)) ++number;
    named_[number] = path;
    return number;
  }

  std::string DeviceOf(int portNumber) override {
    const auto named = named_.find(portNumber);
    if (named != named_.end()) return named->second;
    const Table& table = PortTable();
    // A port the user linked as comN is known by that name.
    if (table.fromComDir) return {};
    for (const PortListing& port : table.ports) {
      if (port.number == portNumber) return port.device;
    }
    return {};
  }

 private:
  // The COM numbers of this run. Made once, at first use: a unit whose USB
  // port goes away while it restarts must not move the numbers of the
  // other ports under the run.
  struct Table {
    bool fromComDir = false;
    bool listed = false;  // false: the system keeps no list (no sysfs)
    std::vector<PortListing> ports;
  };

  static std::string ComDir() { return SystemEnvironment().Get("PONDERIXCOMDIR"); }

  static std::string ComDirPath(const std::string& dir, int portNumber) {
    return dir + (dir.back() == '/' ? "" : "/") + "com" + std::to_string(portNumber);
  }

  const Table& PortTable() {
    // Made again only when the variables that say where ports are change
    // (tests that serve ports in-process do that).
    const std::string dir = ComDir();
    const std::string root = SystemEnvironment().Get(kSystemRootVariable);
    if (table_ && tableDir_ == dir && tableRoot_ == root) return *table_;
    tableDir_ = dir;
    tableRoot_ = root;
    table_ = std::make_unique<Table>();
    if (!dir.empty()) {
      table_->fromComDir = true;
      table_->listed = true;
      for (int number = 1; number <= 99; ++number) {
        struct stat info;
        const std::string path = ComDirPath(dir, number);
        if (lstat(path.c_str(), &info) == 0) table_->ports.push_back({number, path, {}, false});
      }
    } else {
      table_->ports = ListLinuxSerialPorts(root, table_->listed);
    }
    return *table_;
  }

  std::string PortPath(int portNumber) {
    const auto named = named_.find(portNumber);
    if (named != named_.end()) return named->second;
    const std::string dir = ComDir();
    if (!dir.empty()) return ComDirPath(dir, portNumber);
    const Table& table = PortTable();
    for (const PortListing& port : table.ports) {
      if (port.number == portNumber) return port.device;
    }
    // Without the kernel's list, COM n is the nth built-in port.
    if (!table.listed) return "/dev/ttyS" + std::to_string(portNumber - 1);
    return {};
  }

  std::unique_ptr<Table> table_;
  std::string tableDir_, tableRoot_;  // what the table was made from
  std::map<int, std::string> named_;  // ports named by their device

  static bool Configure(int fd, const SerialConfig& config, SerialOpenError& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
      RecordOpenError(error, errno, SerialOpenOutcome::kOther);
      return false;
    }
    // One program at a time: the advisory lock keeps out other instances
    // (and root, which exclusive mode does not stop); exclusive mode keeps
    // out programs that do not lock. Both go with the port when it closes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      RecordOpenError(error, err, OutcomeOf(err));
      return false;
    }
    ioctl(fd, TIOCEXCL);

    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (config.stopBits != 1) tio.c_cflag |= CSTOPB;
    if (config.parityOn) {
      tio.c_cflag |= PARENB;
      if (!config.evenParity) tio.c_cflag |= PARODD;
      tio.c_iflag |= INPCK;
    }
    if (config.ctsFlow) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
      RecordOpenError(error, errno, SerialOpenOutcome::kOther);
      return false;
    }
    if (!SetLineSpeed(fd, config.baudRate)) {
      const int err = errno;
      RecordOpenError(error, err,
                      err == EINVAL ? SerialOpenOutcome::kBadSetting : SerialOpenOutcome::kOther);
      return false;
    }
    // DTR and RTS held on, as the units expect; a pseudo-terminal has neither.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    tcflush(fd, TCIOFLUSH);
    return true;
  }
};

}  // namespace

SerialPortOpener& SystemSerialPorts() {
  static PosixSerialPorts ports;
  return ports;
}

}  // namespace kel
