// TCP client streams ("tcp::host[:port]") for the score server exchange.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "media/stream_kinds.h"

namespace {

// Ten seconds: longer than any sane server needs to answer over the
// internet, short enough that a player facing a dead server is not left
// staring at "please wait" for minutes (the system's own TCP time-outs run
// to several minutes). Tests shorten it.
int socketTimeoutMs = 10000;

// poll() that survives signals, spending at most the time-out in total.
int PollFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r >= 0) return r > 0 ? p.revents : 0;
    if (errno != EINTR) return POLLERR;
  }
}

}  // namespace

void SetSocketTimeoutMillis(int ms) { socketTimeoutMs = ms > 0 ? ms : 1; }
int SocketTimeoutMillis() { return socketTimeoutMs; }

// --- TSocket ---

TSocket& TSocket::operator=(TSocket&& o) noexcept {
  if (this != &o) {
    Close();
    _fd = o._fd;
    o._fd = -1;
  }
  return *this;
}

void TSocket::Close() {
  if (_fd >= 0) ::close(_fd);
  _fd = -1;
}

// --- TSocketStream ---

TSocketStream::~TSocketStream() {
  if (!_autoClose) _socket.Release();  // not ours to close
}

void TSocketStream::Close() {
  if (_autoClose) _socket.Close();
}

int TSocketStream::Eof() {
  if (!_socket.IsOpen()) return 1;
  int revents = PollFor(_socket.fd(), POLLIN, 0);
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return 0;
  int waiting = 0;
  if (::ioctl(_socket.fd(), FIONREAD, &waiting) == 0 && waiting > 0) return 0;
  _socket.Close();  // readable with nothing waiting: the peer has gone
  return 1;
}

int TSocketStream::Read(void* buf, int count) {
  if (!_socket.IsOpen() || count <= 0) return 0;
  if (PollFor(_socket.fd(), POLLIN, socketTimeoutMs) == 0) {
    // Nothing arrived in time: treat the server as gone, so readers that
    // loop until Eof stop instead of waiting for ever.
    _socket.Close();
    return 0;
  }
  ssize_t n;
  do n = ::recv(_socket.fd(), buf, static_cast<size_t>(count), 0);
  while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<int>(n) : 0;
}

int TSocketStream::Write(const void* buf, int count) {
  if (!_socket.IsOpen() || count <= 0) return 0;
  // MSG_NOSIGNAL: a peer that hung up must not kill the game with SIGPIPE.
  ssize_t n;
  do n = ::send(_socket.fd(), buf, static_cast<size_t>(count), MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<int>(n) : 0;
}

// --- Opening ---

bool ParseTcpPath(const Text& path, std::string& host, int& port) {
  size_t colon = path.find(u':');
  host = ByteString(path.substr(0, colon));
  port = 80;
  if (colon != Text::npos && colon + 1 < path.size()) port = TextToInt(path.substr(colon + 1));
  return !host.empty();
}

StreamRef OpenTcpStream(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return nullptr;
  sockaddr_in addr;
  std::memcpy(&addr, found->ai_addr, sizeof addr);
  ::freeaddrinfo(found);
  addr.sin_port = htons(static_cast<uint16_t>(port));

  TSocket sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock.IsOpen()) return nullptr;

  // Connect without blocking so a host that never answers costs at most
  // the time-out, then go back to blocking mode for the stream itself.
  int flags = ::fcntl(sock.fd(), F_GETFL, 0);
  ::fcntl(sock.fd(), F_SETFL, flags | O_NONBLOCK);
  if (::connect(sock.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return nullptr;
    if (!(PollFor(sock.fd(), POLLOUT, socketTimeoutMs) & (POLLOUT | POLLERR | POLLHUP)))
      return nullptr;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return nullptr;
  }
  ::fcntl(sock.fd(), F_SETFL, flags);

  // Sends that cannot drain (a stalled peer) give up after the same time.
  timeval tv{socketTimeoutMs / 1000, (socketTimeoutMs % 1000) * 1000};
  ::setsockopt(sock.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return std::make_shared<TSocketStream>(std::move(sock), true);
}

namespace {

// The readable and writeable flags mean nothing to a socket.
class TTcpFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool, bool) override {
    if (proto != u"tcp") return nullptr;
    std::string host;
    int port;
    if (!ParseTcpPath(path, host, port)) return nullptr;
    return OpenTcpStream(host, port);
  }
};

}  // namespace

TStreamFactory* TcpStreamFactory() {
  static TTcpFactory factory;
  return &factory;
}
