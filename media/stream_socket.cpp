// TCP client streams ("tcp::host[:port]") for the score server exchange.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "media/stream_kinds.h"

namespace {

// Ten seconds for a whole connection, lookup to last byte: longer than any
// sane server needs to answer over the internet, short enough that a player
// facing a dead, silent or dribbling server is not left staring at "please
// wait" (the system's own TCP time-outs run to minutes). Tests shorten it.
int socketTimeoutMs = 10000;
// A board of 1000 lines is about 32 KiB; a replay a few more. Anything far
// beyond that is a broken or hostile server.
int socketByteCap = 1 << 20;

// poll() that survives signals, spending at most the time-out in total.
int PollFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r >= 0) return r > 0 ? p.revents : 0;
    if (errno != EINTR) return POLLERR;
  }
}

int Remaining(int64_t deadline) {
  return static_cast<int>(std::clamp<int64_t>(deadline - SteadyMillis(), 0, INT_MAX));
}

// getaddrinfo_a with a bounded wait: a resolver that never answers costs
// the rest of the connection's time, not minutes. A lookup still running
// when we give up keeps its request block (the resolver writes into it
// later), so that block is let go of on purpose.
struct Lookup {
  std::string host;
  addrinfo hints{};
  gaicb request{};
  gaicb* list[1] = {&request};
};

// Every address of the host, IPv4 ones first: a name with both kinds is
// reached as it always was, and an IPv6 literal or a name with only IPv6
// addresses is reached too.
bool LookupAddresses(const std::string& host, int64_t deadline,
                     std::vector<sockaddr_storage>& addresses) {
  auto* lookup = new Lookup;
  lookup->host = host;
  lookup->hints.ai_family = AF_UNSPEC;
  lookup->hints.ai_socktype = SOCK_STREAM;
  lookup->request.ar_name = lookup->host.c_str();
  lookup->request.ar_request = &lookup->hints;
  if (::getaddrinfo_a(GAI_NOWAIT, lookup->list, 1, nullptr) != 0) {
    delete lookup;
    return false;
  }
  int status;
  while ((status = ::gai_error(&lookup->request)) == EAI_INPROGRESS) {
    int left = Remaining(deadline);
    if (left == 0) break;
    timespec wait{left / 1000, (left % 1000) * 1000000L};
    const gaicb* waiting[1] = {&lookup->request};
    ::gai_suspend(waiting, 1, &wait);
  }
  if (status == EAI_INPROGRESS && ::gai_cancel(&lookup->request) == EAI_NOTCANCELED)
    return false;  // still running: the resolver owns the block now
  addrinfo* found = lookup->request.ar_result;
  if (::gai_error(&lookup->request) == 0)
    for (int family : {AF_INET, AF_INET6})
      for (addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == family && a->ai_addrlen <= sizeof(sockaddr_storage)) {
          sockaddr_storage addr{};
          std::memcpy(&addr, a->ai_addr, a->ai_addrlen);
          addresses.push_back(addr);
        }
  if (found) ::freeaddrinfo(found);
  delete lookup;
  return !addresses.empty();
}

// A connected socket to `addr`, or a closed one when it cannot be had in time.
TSocket Connect(sockaddr_storage addr, int port, int64_t deadline) {
  socklen_t size = sizeof(sockaddr_in);
  if (addr.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = htons(static_cast<uint16_t>(port));
    size = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in*>(&addr)->sin_port = htons(static_cast<uint16_t>(port));
  }
  TSocket sock(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock.IsOpen()) return sock;

  // Connect without blocking so a host that never answers costs at most
  // the time-out, then go back to blocking mode for the stream itself.
  int flags = ::fcntl(sock.fd(), F_GETFL, 0);
  ::fcntl(sock.fd(), F_SETFL, flags | O_NONBLOCK);
  if (::connect(sock.fd(), reinterpret_cast<sockaddr*>(&addr), size) != 0) {
    int err = 0;
    socklen_t len = sizeof err;
    if (errno != EINPROGRESS ||
        !(PollFor(sock.fd(), POLLOUT, Remaining(deadline)) & (POLLOUT | POLLERR | POLLHUP)) ||
        ::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
      sock.Close();
  }
  if (sock.IsOpen()) ::fcntl(sock.fd(), F_SETFL, flags);
  return sock;
}

}  // namespace

int64_t SteadyMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetSocketTimeoutMillis(int ms) { socketTimeoutMs = ms > 0 ? ms : 1; }
int SocketTimeoutMillis() { return socketTimeoutMs; }
void SetSocketByteCap(int bytes) { socketByteCap = bytes > 0 ? bytes : 1; }
int SocketByteCap() { return socketByteCap; }

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

void TSocketStream::GiveUp() {
  _failed = 1;
  _socket.Close();
}

int TSocketStream::Eof() {
  if (!_socket.IsOpen()) return 1;
  if (Remaining(_deadline) == 0) {
    GiveUp();
    return 1;
  }
  int revents = PollFor(_socket.fd(), POLLIN, 0);
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return 0;
  int waiting = 0;
  if (::ioctl(_socket.fd(), FIONREAD, &waiting) == 0 && waiting > 0) return 0;
  _socket.Close();  // readable with nothing waiting: the peer has gone
  return 1;
}

int TSocketStream::Read(void* buf, int count) {
  if (!_socket.IsOpen() || count <= 0) return 0;
  if (_budget <= 0 || PollFor(_socket.fd(), POLLIN, Remaining(_deadline)) == 0) {
    // Too much, or nothing in time: the server counts as gone, so readers
    // that loop until Eof stop, and the exchange as failed.
    GiveUp();
    return 0;
  }
  ssize_t n;
  do n = ::recv(_socket.fd(), buf, static_cast<size_t>(std::min(count, _budget)), 0);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  _budget -= static_cast<int>(n);
  return static_cast<int>(n);
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
  // An IPv6 address is written in brackets, "[::1]:8480", so that its
  // colons are not taken for the port's.
  bool bracketed = !path.empty() && path[0] == u'[';
  size_t end = bracketed ? path.find(u']') : 0;
  size_t colon = path.find(u':', end == Text::npos ? 0 : end);
  if (bracketed) {
    if (end == Text::npos || (colon != end + 1 && end + 1 != path.size())) return false;
    host = ByteString(path.substr(1, end - 1));
  } else {
    host = ByteString(path.substr(0, colon));
  }
  port = 80;
  if (colon != Text::npos && colon + 1 < path.size()) port = TextToInt(path.substr(colon + 1));
  // A port outside 1..65535 would be cut to 16 bits and reach another one.
  return !host.empty() && port >= 1 && port <= 65535;
}

StreamRef OpenTcpStream(const std::string& host, int port) {
  int64_t deadline = SteadyMillis() + socketTimeoutMs;
  std::vector<sockaddr_storage> addresses;
  if (!LookupAddresses(host, deadline, addresses)) return nullptr;
  TSocket sock;
  for (const sockaddr_storage& addr : addresses) {
    sock = Connect(addr, port, deadline);
    if (sock.IsOpen() || Remaining(deadline) == 0) break;
  }
  if (!sock.IsOpen()) return nullptr;

  // Sends that cannot drain (a stalled peer) give up within the same time.
  int left = std::max(Remaining(deadline), 1);
  timeval tv{left / 1000, (left % 1000) * 1000};
  ::setsockopt(sock.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return std::make_shared<TSocketStream>(std::move(sock), true, deadline, socketByteCap);
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
