// The score server's exchange in a page. A page cannot open a TCP
// connection, so a "tcp::" stream keeps what the game writes and, when the
// game first looks for the reply, sends those bytes in one request to the
// server that served the page (POST /play/exchange). The server answers them
// as it answers a connection of their own from this visitor and hands back
// the reply's bytes as they are, so the game reads what it reads on the
// desktop. The host the game names is never reached: a page talks only to
// its own server. As on the desktop, one deadline covers the whole exchange
// from the open, and the reply stops at the byte cap.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/stream_kinds.h"

namespace {

constexpr char RELAY_PATH[] = "/play/exchange";

// Starts the request; its number for RelayState and RelayTake. A reply
// that is not the relay's own (the server refused the request at the door)
// is handed over as an HTTP reply of that status with its body, which is
// what the game reads from such a server. No fetch (Node) fails at once.
EM_JS(int, RelayStart, (const char* path, const unsigned char* data, int size, int timeoutMs), {
  var calls = Module.relayCalls = Module.relayCalls || {};
  var id = Module.relayNext = (Module.relayNext || 0) + 1;
  var call = calls[id] = {done: false, bytes: null};
  if (typeof fetch != 'function') {
    call.done = true;
    return id;
  }
  var abort = typeof AbortController == 'function' ? new AbortController() : null;
  var timer = setTimeout(function() { if (abort) abort.abort(); }, timeoutMs);
  fetch(UTF8ToString(path), {
    method: 'POST', body: HEAPU8.slice(data, data + size), cache: 'no-store',
    credentials: 'omit', signal: abort ? abort.signal : undefined,
    headers: {'Content-Type': 'application/octet-stream', 'X-Zephrant-Relay': '1'}
  }).then(function(r) {
    return r.arrayBuffer().then(function(body) {
      var bytes = new Uint8Array(body);
      if (r.headers.get('X-Zephrant-Relay') != 'raw') {
        var end = String.fromCharCode(13, 10, 13, 10);  // no escapes in these blocks
        var head = new TextEncoder().encode('HTTP/1.0 ' + r.status + ' ' + r.statusText + end);
        var whole = new Uint8Array(head.length + bytes.length);
        whole.set(head);
        whole.set(bytes, head.length);
        bytes = whole;
      }
      call.bytes = bytes;
    });
  }).catch(function() {}).finally(function() {
    clearTimeout(timer);
    call.done = true;
  });
  return id;
});

// -2 while the request runs, -1 when it failed, else the reply's length.
EM_JS(int, RelayState, (int id), {
  var call = Module.relayCalls[id];
  return !call.done ? -2 : call.bytes ? call.bytes.length : -1;
});

// The first `count` bytes of the reply; the request is forgotten.
EM_JS(void, RelayTake, (int id, unsigned char* out, int count), {
  var call = Module.relayCalls[id];
  if (count > 0) HEAPU8.set(call.bytes.subarray(0, count), out);
  delete Module.relayCalls[id];
});

class TRelayStream : public TStream {
 public:
  TRelayStream() : _deadline(SteadyMillis() + SocketTimeoutMillis()) {}
  int Eof() override {
    Exchange();
    return _pos >= _reply.size();
  }
  int Failed() override { return _failed; }
  void Close() override {
    _sent = true;
    _reply.clear();
  }
  int Read(void* buf, int count) override {
    Exchange();
    int n = std::clamp(int(_reply.size() - _pos), 0, std::max(count, 0));
    std::memcpy(buf, _reply.data() + _pos, size_t(n));
    _pos += size_t(n);
    return n;
  }
  // Written bytes wait for the first read; after it nothing more goes out,
  // as on a connection whose server has answered and closed.
  int Write(const void* buf, int count) override {
    if (_sent || count <= 0) return 0;
    const auto* p = static_cast<const unsigned char*>(buf);
    _request.insert(_request.end(), p, p + count);
    return count;
  }

 private:
  void Exchange() {
    if (_sent) return;
    _sent = true;
    int64_t left = _deadline - SteadyMillis();
    if (left <= 0) {
      _failed = 1;
      return;
    }
    int id = RelayStart(RELAY_PATH, _request.data(), int(_request.size()), int(left));
    int size;
    while ((size = RelayState(id)) == -2) emscripten_sleep(10);
    int kept = std::min(size, SocketByteCap());
    if (size < 0 || size > kept) _failed = 1;
    _reply.resize(size_t(std::max(kept, 0)));
    RelayTake(id, _reply.data(), size >= 0 ? kept : 0);
  }

  int64_t _deadline;
  std::vector<unsigned char> _request, _reply;
  size_t _pos = 0;
  bool _sent = false;
  int _failed = 0;
};

// After the TCP factory, whose name lookup always fails in a browser.
class TRelayFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool, bool) override {
    std::string host;
    int port;
    if (proto != u"tcp" || !ParseTcpPath(path, host, port)) return nullptr;
    return std::make_shared<TRelayStream>();
  }
};

[[maybe_unused]] const bool registered = [] {
  static TRelayFactory factory;
  AddStreamFactory(&factory);
  return true;
}();

}  // namespace
