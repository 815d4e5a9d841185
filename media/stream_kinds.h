// The kinds of stream behind OpenStreamUrl, and the factory chain that picks
// one from a url's protocol. Only the media layer needs these.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "media/stream.h"

// --- C files ---
class TCStream : public TStream {
 public:
  static constexpr int MODE_READ = 1, MODE_WRITE = 2;
  TCStream(FILE* file, int mode);  // finds the size by seeking to the end and back
  ~TCStream() override;
  int Pos() override { return _pos; }
  int Size() override { return _size; }
  int Seek(int pos) override;
  void Flush() override;
  void Close() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;

  int _pos = 0, _size = 0;
  FILE* _cstream = nullptr;
  int _mode = 0;

 private:
  int _lastOp = 0;  // C wants a seek between a read and a following write, and back
  void SwitchTo(int op);
};
StreamRef OpenCStream(const std::string& path, bool readable, bool writeable);

// --- Memory ---
class TRamStream : public TStream {
 public:
  TRamStream(void* buf, int size, bool readable, bool writeable)
      : _size(size), _buf(static_cast<unsigned char*>(buf)), _read(readable), _write(writeable) {}
  int Pos() override { return _pos; }
  int Size() override { return _size; }
  int Seek(int pos) override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;

  int _pos = 0, _size = 0;
  unsigned char* _buf = nullptr;
  int _read = 0, _write = 0;
};

// A growable block of bytes and a stream over it (the copy made of a stream
// that cannot seek).
struct TBank {
  std::vector<unsigned char> bytes;
};
class TBankStream : public TStream {
 public:
  explicit TBankStream(std::shared_ptr<TBank> bank) : _bank(std::move(bank)) {}
  int Pos() override { return _pos; }
  int Size() override { return static_cast<int>(_bank->bytes.size()); }
  int Seek(int pos) override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;  // grows the bank

  std::shared_ptr<TBank> _bank;
  int _pos = 0;
};
std::shared_ptr<TBank> LoadBank(TStream& stream);  // reads until Read gives 0

// --- TCP ---
// Owns one socket descriptor; closing twice is harmless.
class TSocket {
 public:
  TSocket() = default;
  explicit TSocket(int fd) : _fd(fd) {}
  TSocket(TSocket&& o) noexcept : _fd(o._fd) { o._fd = -1; }
  TSocket& operator=(TSocket&& o) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  ~TSocket() { Close(); }
  int fd() const { return _fd; }
  bool IsOpen() const { return _fd >= 0; }
  void Close();
  int Release() {  // gives up ownership without closing
    int fd = _fd;
    _fd = -1;
    return fd;
  }

 private:
  int _fd = -1;
};

class TSocketStream : public TStream {
 public:
  // deadlineMs on the steady clock (SteadyMillis); byteCap bytes may be read.
  TSocketStream(TSocket socket, bool autoClose, int64_t deadlineMs = INT64_MAX,
                int byteCap = INT32_MAX)
      : _socket(std::move(socket)),
        _autoClose(autoClose),
        _deadline(deadlineMs),
        _budget(byteCap) {}
  ~TSocketStream() override;
  int Eof() override;  // never blocks; seeing the peer's close closes the socket
  void Close() override;
  int Failed() override { return _failed; }
  int Read(void* buf, int count) override;  // waits until the deadline at most
  int Write(const void* buf, int count) override;

  TSocket _socket;
  int _autoClose = 1;
  int64_t _deadline;
  int _budget;
  int _failed = 0;

 private:
  void GiveUp();  // closes the socket and remembers why
};
int64_t SteadyMillis();
// "host" or "host:port"; false when the host part is empty or the port
// is not one of 1..65535.
bool ParseTcpPath(const Text& path, std::string& host, int& port);
StreamRef OpenTcpStream(const std::string& host, int port);  // null when it cannot connect

// --- Factories ---
class TStreamFactory {
 public:
  virtual ~TStreamFactory() = default;
  virtual StreamRef CreateStream(const Text& url, const Text& proto, const Text& path,
                                 bool readable, bool writeable) = 0;
  TStreamFactory* _succ = nullptr;
};
void AddStreamFactory(TStreamFactory* factory);  // appended to the chain; kept for the run
TStreamFactory* TcpStreamFactory();              // "tcp"

// --- Embedded files ---
struct TEmbeddedFile {
  Text name;
  const unsigned char* data;
  int size;
};
const TEmbeddedFile* FindEmbeddedFile(const Text& name);  // exact name, null when unknown
