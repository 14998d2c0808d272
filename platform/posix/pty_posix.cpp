#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/serial_speed_posix.h"
#include "platform/pseudo_terminal.h"
#include "platform/signals.h"

namespace kel {

namespace {

struct SpeedCode {
  speed_t code;
  int32_t rate;
};

constexpr SpeedCode kSpeeds[] = {
    {B300, 300},       {B600, 600},       {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
    {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600},
    {B1000000, 1000000}, {B1500000, 1500000}, {B2000000, 2000000},
};

int32_t RateOf(speed_t code) {
  for (const auto& s : kSpeeds) {
    if (s.code == code) return s.rate;
  }
  return 0;
}

// How often a wait looks again at a terminal whose far end is closed: the
// master reports a hang-up at once for as long as nobody has the slave open,
// so it cannot be waited on until the program opens the port again.
constexpr int kClosedRecheckMs = 10;

// True when the master reports that no process has the slave open.
bool HungUp(int master) {
  pollfd fd{master, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & POLLHUP) != 0 && (fd.revents & POLLIN) == 0;
}

class PosixPseudoTerminal : public PseudoTerminal {
 public:
  PosixPseudoTerminal(int master, std::string path) : master_(master), path_(std::move(path)) {}
  ~PosixPseudoTerminal() override {
    if (master_ >= 0) close(master_);
  }

  const std::string& slavePath() const override { return path_; }

  int Read(uint8_t* data, size_t max) override {
    const ssize_t n = read(master_, data, max);
    if (n >= 0) return static_cast<int>(n);
    // EIO means no process has the slave open right now: nothing to read.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EIO) return 0;
    return -1;
  }

  int Write(const uint8_t* data, size_t length) override {
    const ssize_t n = write(master_, data, length);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return -1;
  }

  bool LineSettings(SerialConfig& line) override {
    termios t{};
    if (tcgetattr(master_, &t) != 0) return false;
    // Speeds set through the arbitrary-rate interface show only as "other"
    // in the classic settings; ask for the number itself first.
    int32_t rate = 0;
    line.baudRate = GetLineSpeed(master_, rate) && rate > 0 ? rate : RateOf(cfgetospeed(&t));
    line.parityOn = (t.c_cflag & PARENB) != 0;
    line.evenParity = line.parityOn && (t.c_cflag & PARODD) == 0;
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    line.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    return true;
  }

  int WaitHandle() const override { return master_; }

  bool FarEndOpen() const override { return !HungUp(master_); }

  bool ResetAfterClose() override {
    // A serial device forgets its exclusive mode at its last close; a
    // pseudo-terminal keeps it while its master lives. The slave is opened
    // for a moment to clear it, which an ordinary user cannot do while the
    // mode is set. Its queues are left alone: the program may be opening
    // the port again right now, and it empties them itself when it does.
    const int slave = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) return false;
    ioctl(slave, TIOCNXCL);
    close(slave);
    return true;
  }

 private:
  int master_;
  std::string path_;
};

}  // namespace

std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0) {
    error = std::string("posix_openpt: ") + std::strerror(errno);
    return nullptr;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    error = std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno);
    close(master);
    return nullptr;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  // The slave is opened only to set it up: like a serial device, it is
  // closed whenever no program has the port open, so that the program's
  // last close acts as a real port's does (see ResetAfterClose).
  const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    close(master);
    return nullptr;
  }
  // Raw from the start: an echoing line would send the units' replies back to them.
  termios t{};
  if (tcgetattr(slave, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(slave, TCSANOW, &t);
  }
  close(slave);
  return std::make_unique<PosixPseudoTerminal>(master, name);
}

std::vector<size_t> WaitForTerminals(const std::vector<PseudoTerminal*>& terminals, uint32_t timeoutMs) {
  // Terminals whose far end is closed are left out of the wait (they would
  // end it at once) and looked at again every few milliseconds.
  std::vector<pollfd> fds;
  std::vector<size_t> index;
  bool anyClosed = false;
  for (size_t i = 0; i < terminals.size(); ++i) {
    if (!terminals[i]->FarEndOpen()) {
      anyClosed = true;
      continue;
    }
    fds.push_back({terminals[i]->WaitHandle(), POLLIN, 0});
    index.push_back(i);
  }
  const size_t open = fds.size();
  const int stopFd = StopSignalFd();
  if (stopFd >= 0) fds.push_back({stopFd, POLLIN, 0});
  int wait = static_cast<int>(timeoutMs);
  if (anyClosed) wait = std::min(wait, kClosedRecheckMs);
  std::vector<size_t> ready;
  const int n = poll(fds.data(), fds.size(), wait);
  if (n <= 0) return ready;
  // A terminal whose far end closed during the wait ends it with a hang-up
  // and nothing to read; the next wait leaves it out.
  for (size_t i = 0; i < open; ++i) {
    if (fds[i].revents & POLLIN) ready.push_back(index[i]);
  }
  return ready;
}

bool MakeDeviceLink(const std::string& target, const std::string& link, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a link";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = "cannot link " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool RemoveDeviceLink(const std::string& link) {
  struct stat st {};
  if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  return unlink(link.c_str()) == 0;
}

std::unique_ptr<LocalComPort> LocalComPort::Open(int number, std::string& error) {
  if (number < 1 || number > 255) {
    error = "COM port numbers run from 1 to 255";
    return nullptr;
  }
  std::unique_ptr<LocalComPort> port(new LocalComPort());
  port->terminal_ = OpenPseudoTerminal(error);
  if (!port->terminal_) return nullptr;
  char folder[] = "/tmp/kel-com-XXXXXX";
  if (!mkdtemp(folder)) {
    error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    return nullptr;
  }
  port->folder_ = folder;
  const std::string link = port->folder_ + "/com" + std::to_string(number);
  if (!MakeDeviceLink(port->terminal_->slavePath(), link, error)) {
    rmdir(folder);
    port->folder_.clear();
    return nullptr;
  }
  port->link_ = link;
  const char* old = getenv("PONDERIXCOMDIR");
  port->hadComDir_ = old != nullptr;
  if (old) port->savedComDir_ = old;
  setenv("PONDERIXCOMDIR", folder, 1);
  return port;
}

LocalComPort::~LocalComPort() {
  if (folder_.empty()) return;
  if (hadComDir_) {
    setenv("PONDERIXCOMDIR", savedComDir_.c_str(), 1);
  } else {
    unsetenv("PONDERIXCOMDIR");
  }
  RemoveDeviceLink(link_);
  rmdir(folder_.c_str());
}

}  // namespace kel
