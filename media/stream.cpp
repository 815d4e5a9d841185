// Streams: the byte-level reads and writes every stream shares, C files,
// memory blocks, url resolution with its factory chain, embedded files and
// the diagnostic output.
#include "media/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "media/stream_kinds.h"

// --- TIO / TStream ---

int TIO::Eof() { return Pos() == Size(); }

void TStream::ReadBytes(void* buf, int count) {
  auto* p = static_cast<unsigned char*>(buf);
  while (count > 0) {
    int n = Read(p, count);
    if (n <= 0) throw TStreamReadException();
    p += n;
    count -= n;
  }
}

void TStream::WriteBytes(const void* buf, int count) {
  auto* p = static_cast<const unsigned char*>(buf);
  while (count > 0) {
    int n = Write(p, count);
    if (n <= 0) throw TStreamWriteException();
    p += n;
    count -= n;
  }
}

void TStream::SkipBytes(int count) {
  unsigned char scrap[256];
  while (count > 0) {
    int chunk = std::min(count, static_cast<int>(sizeof scrap));
    ReadBytes(scrap, chunk);
    count -= chunk;
  }
}

namespace {

// Multi-byte values travel least significant byte first whatever the host's
// own order; a "bigendian" wrapper reverses them.
template <size_t N>
using Bits = std::conditional_t<
    N == 1, uint8_t,
    std::conditional_t<N == 2, uint16_t, std::conditional_t<N == 4, uint32_t, uint64_t>>>;

template <typename T>
T ReadValue(TStream& s) {
  unsigned char b[sizeof(T)];
  s.ReadBytes(b, sizeof b);
  Bits<sizeof(T)> v = 0;
  for (size_t i = 0; i < sizeof b; ++i)
    v |= static_cast<Bits<sizeof(T)>>(b[s.swapBytes ? sizeof b - 1 - i : i]) << (8 * i);
  return std::bit_cast<T>(v);
}

template <typename T>
void WriteValue(TStream& s, T value) {
  auto v = std::bit_cast<Bits<sizeof(T)>>(value);
  unsigned char b[sizeof(T)];
  for (size_t i = 0; i < sizeof b; ++i)
    b[s.swapBytes ? sizeof b - 1 - i : i] = static_cast<unsigned char>(v >> (8 * i));
  s.WriteBytes(b, sizeof b);
}

}  // namespace

int TStream::ReadByte() { return ReadValue<uint8_t>(*this); }
void TStream::WriteByte(int n) { WriteValue<uint8_t>(*this, static_cast<uint8_t>(n)); }
int TStream::ReadShort() { return ReadValue<uint16_t>(*this); }
void TStream::WriteShort(int n) { WriteValue<uint16_t>(*this, static_cast<uint16_t>(n)); }
int TStream::ReadInt() { return ReadValue<int32_t>(*this); }
void TStream::WriteInt(int n) { WriteValue<int32_t>(*this, n); }
int64_t TStream::ReadLong() { return ReadValue<int64_t>(*this); }
void TStream::WriteLong(int64_t n) { WriteValue<int64_t>(*this, n); }
float TStream::ReadFloat() { return ReadValue<float>(*this); }
void TStream::WriteFloat(float f) { WriteValue<float>(*this, f); }
double TStream::ReadDouble() { return ReadValue<double>(*this); }
void TStream::WriteDouble(double d) { WriteValue<double>(*this, d); }

Text TStream::ReadLine() {
  // Byte by byte, so nothing after the line end is consumed. A line longer
  // than MAX_LINE_BYTES keeps its start; the rest is read and dropped, so a
  // misbehaving server cannot make us hold an endless line.
  Text line;
  unsigned char c;
  while (Read(&c, 1) == 1) {
    if (c == 10 || c == 0) break;
    if (c == 13) continue;
    if (line.size() < static_cast<size_t>(MAX_LINE_BYTES)) line.push_back(c);
  }
  return line;
}

int TStream::WriteLine(const Text& text) {
  std::string bytes = ByteString(text);
  bytes += "\r\n";
  const char* p = bytes.data();
  int left = static_cast<int>(bytes.size());
  while (left > 0) {
    int n = Write(p, left);
    if (n <= 0) return 0;
    p += n;
    left -= n;
  }
  return 1;
}

Text TStream::ReadString(int length) {
  if (length <= 0) return Text();
  std::string bytes(static_cast<size_t>(length), '\0');
  ReadBytes(bytes.data(), length);
  return AsciiText(bytes);
}

void TStream::WriteString(const Text& text) {
  std::string bytes = ByteString(text);
  WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

// --- Byte order ---

TXEndianStream::TXEndianStream(StreamRef inner) : TStreamWrapper(std::move(inner)) {
  swapBytes = true;
}

StreamRef TXEndianStream::LittleEndian(const StreamRef& stream) { return stream; }

StreamRef TXEndianStream::BigEndian(const StreamRef& stream) {
  if (!stream) return nullptr;
  return std::make_shared<TXEndianStream>(stream);
}

// --- C files ---

TCStream::TCStream(FILE* file, int mode) : _cstream(file), _mode(mode) {
  std::fseek(_cstream, 0, SEEK_END);
  _size = static_cast<int>(std::ftell(_cstream));
  std::fseek(_cstream, 0, SEEK_SET);
}

TCStream::~TCStream() { TCStream::Close(); }

void TCStream::SwitchTo(int op) {
  if (_lastOp != 0 && _lastOp != op) std::fseek(_cstream, _pos, SEEK_SET);
  _lastOp = op;
}

int TCStream::Seek(int pos) {
  if (!_cstream) return -1;
  pos = std::clamp(pos, 0, _size);
  if (std::fseek(_cstream, pos, SEEK_SET) == 0) _pos = pos;
  _lastOp = 0;
  return _pos;
}

void TCStream::Flush() {
  if (_cstream) std::fflush(_cstream);
}

void TCStream::Close() {
  if (!_cstream) return;
  std::fclose(_cstream);  // flushes first
  _cstream = nullptr;
  _pos = _size = 0;
}

int TCStream::Read(void* buf, int count) {
  if (!_cstream || !(_mode & MODE_READ) || count <= 0) return 0;
  SwitchTo(MODE_READ);
  int n = static_cast<int>(std::fread(buf, 1, static_cast<size_t>(count), _cstream));
  _pos += n;
  return n;
}

int TCStream::Write(const void* buf, int count) {
  if (!_cstream || !(_mode & MODE_WRITE) || count <= 0) return 0;
  SwitchTo(MODE_WRITE);
  int n = static_cast<int>(std::fwrite(buf, 1, static_cast<size_t>(count), _cstream));
  _pos += n;
  _size = std::max(_size, _pos);
  return n;
}

namespace {

// Only regular files are streams: a pipe or a device could block for ever
// or never end. The descriptor is opened without blocking so that even the
// open of a pipe returns at once.
StreamRef StreamOnDescriptor(int fd, const char* mode, int streamMode) {
  struct stat st;
  if (fd < 0) return nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE* f = ::fdopen(fd, mode);
  if (!f) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<TCStream>(f, streamMode);
}

std::string FilePath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

}  // namespace

StreamRef OpenCStream(const std::string& path, bool readable, bool writeable) {
  std::string p = FilePath(path);
  const char* mode = readable && writeable ? "r+b" : writeable ? "wb" : "rb";
  int flags = readable && writeable ? O_RDWR : writeable ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
  int m = (readable ? TCStream::MODE_READ : 0) | (writeable ? TCStream::MODE_WRITE : 0);
  if (m == 0) m = TCStream::MODE_READ;  // opened "rb" anyway
  return StreamOnDescriptor(::open(p.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666), mode, m);
}

StreamRef CreateFreshFile(const Text& path) {
  std::string p = FilePath(ByteString(path));
  ::unlink(p.c_str());  // a link goes, not what it points to
  int fd =
      ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  return StreamOnDescriptor(fd, "wb", TCStream::MODE_WRITE);
}

// --- Memory ---

int TRamStream::Seek(int pos) {
  _pos = std::clamp(pos, 0, _size);
  return _pos;
}

int TRamStream::Read(void* buf, int count) {
  if (!_read || count <= 0) return 0;
  int n = std::min(count, _size - _pos);
  if (n <= 0) return 0;
  std::memcpy(buf, _buf + _pos, static_cast<size_t>(n));
  _pos += n;
  return n;
}

int TRamStream::Write(const void* buf, int count) {
  if (!_write || count <= 0) return 0;
  int n = std::min(count, _size - _pos);
  if (n <= 0) return 0;
  std::memcpy(_buf + _pos, buf, static_cast<size_t>(n));
  _pos += n;
  return n;
}

int TBankStream::Seek(int pos) {
  _pos = std::clamp(pos, 0, Size());
  return _pos;
}

int TBankStream::Read(void* buf, int count) {
  int n = std::min(count, Size() - _pos);
  if (n <= 0) return 0;
  std::memcpy(buf, _bank->bytes.data() + _pos, static_cast<size_t>(n));
  _pos += n;
  return n;
}

int TBankStream::Write(const void* buf, int count) {
  if (count <= 0) return 0;
  size_t end = static_cast<size_t>(_pos) + static_cast<size_t>(count);
  if (end > _bank->bytes.size()) _bank->bytes.resize(end);
  std::memcpy(_bank->bytes.data() + _pos, buf, static_cast<size_t>(count));
  _pos += count;
  return count;
}

std::shared_ptr<TBank> LoadBank(TStream& stream) {
  auto bank = std::make_shared<TBank>();
  unsigned char chunk[4096];
  int n;
  while ((n = stream.Read(chunk, sizeof chunk)) > 0)
    bank->bytes.insert(bank->bytes.end(), chunk, chunk + n);
  return bank;
}

// --- Embedded files ---

namespace {

std::vector<TEmbeddedFile>& EmbeddedFiles() {
  static std::vector<TEmbeddedFile> files;
  return files;
}

}  // namespace

int RegisterEmbeddedFile(const Text& name, const void* data, int size) {
  if (FindEmbeddedFile(name)) return 0;
  EmbeddedFiles().push_back({name, static_cast<const unsigned char*>(data), size});
  return 1;
}

const TEmbeddedFile* FindEmbeddedFile(const Text& name) {
  for (const TEmbeddedFile& f : EmbeddedFiles())
    if (f.name == name) return &f;
  return nullptr;
}

// --- Factories ---

namespace {

// Embedded files are read in place: the stream points into the program
// image, which is why they can never be opened for writing.
class TIncbinFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool,
                         bool writeable) override {
    if (proto != u"incbin" || writeable) return nullptr;
    const TEmbeddedFile* f = FindEmbeddedFile(path);
    if (!f) return nullptr;
    return std::make_shared<TRamStream>(const_cast<unsigned char*>(f->data), f->size, true, false);
  }
};

class TEndianFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool readable,
                         bool writeable) override {
    if (proto == u"littleendian")
      return TXEndianStream::LittleEndian(OpenStreamUrl(path, readable, writeable));
    if (proto == u"bigendian")
      return TXEndianStream::BigEndian(OpenStreamUrl(path, readable, writeable));
    return nullptr;
  }
};

TStreamFactory*& FactoryChain() {
  static TStreamFactory* head = [] {
    static TIncbinFactory incbin;
    static TEndianFactory endian;
    incbin._succ = TcpStreamFactory();
    incbin._succ->_succ = &endian;
    return static_cast<TStreamFactory*>(&incbin);
  }();
  return head;
}

Text LowerAscii(Text s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

}  // namespace

void AddStreamFactory(TStreamFactory* factory) {
  TStreamFactory** link = &FactoryChain();
  while (*link) link = &(*link)->_succ;
  *link = factory;
}

StreamRef OpenStreamUrl(const Text& url, bool readable, bool writeable) {
  size_t sep = url.find(u"::");
  if (sep == Text::npos) return OpenCStream(ByteString(url), readable, writeable);
  Text proto = LowerAscii(url.substr(0, sep));
  Text path = url.substr(sep + 2);
  for (TStreamFactory* f = FactoryChain(); f; f = f->_succ)
    if (StreamRef s = f->CreateStream(url, proto, path, readable, writeable)) return s;
  return nullptr;
}

StreamRef OpenStreamUrl(const StreamRef& stream, bool, bool) {
  if (!stream) return nullptr;
  return std::make_shared<TStreamWrapper>(stream);
}

namespace {

// Callers of the file operations may seek, so a stream that cannot is
// copied into memory first.
StreamRef Seekable(StreamRef s) {
  if (!s || s->Pos() != -1) return s;
  return std::make_shared<TBankStream>(LoadBank(*s));
}

}  // namespace

StreamRef OpenFileForReading(const Text& url) { return Seekable(OpenStreamUrl(url, true, false)); }
StreamRef OpenFileForWriting(const Text& url) { return Seekable(OpenStreamUrl(url, false, true)); }

int RemoveFile(const Text& path) {
  std::string p = ByteString(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  std::remove(p.c_str());
  struct stat st;
  return ::lstat(p.c_str(), &st) != 0 ? 1 : 0;
}

void CloseStream(const StreamRef& s) {
  if (s) s->Close();
}

// --- Diagnostics ---

namespace {
bool printQuiet = false;
}  // namespace

void SetPrintLineQuiet(bool quiet) { printQuiet = quiet; }

void PrintErrorLine(const Text& text) {
  std::string bytes = ByteString(text) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void PrintLine(const Text& text) {
  if (printQuiet) return;
  std::string bytes = ByteString(text);
  bytes += "\r\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}
