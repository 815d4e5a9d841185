// Streams: every byte the game reads or writes goes through one of these,
// opened from a url: "incbin::name" (embedded files), "tcp::host[:port]",
// or a plain file path (regular files only).
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>

#include "media/text.h"

struct TStreamReadException : std::runtime_error {
  TStreamReadException() : std::runtime_error("Error reading from stream") {}
};
struct TStreamWriteException : std::runtime_error {
  TStreamWriteException() : std::runtime_error("Error writing to stream") {}
};

class TIO {
 public:
  virtual ~TIO() = default;
  virtual int Eof();                // Pos = Size by default
  virtual int Pos() { return -1; }  // -1 when the stream cannot seek
  virtual int Size() { return -1; }
  virtual int Seek(int pos) {
    (void)pos;
    return -1;
  }
  virtual void Flush() {}
  virtual void Close() {}
  virtual int Failed() { return 0; }           // 1 once the stream gave up (time-out, byte cap)
  virtual int Read(void* buf, int count) = 0;  // bytes read, 0 at end or on error
  virtual int Write(const void* buf, int count) = 0;  // bytes written
};

class TStream : public TIO {
 public:
  void ReadBytes(void* buf, int count);         // raises TStreamReadException when short
  void WriteBytes(const void* buf, int count);  // raises TStreamWriteException when short
  void SkipBytes(int count);
  int ReadByte();
  void WriteByte(int n);
  int ReadShort();
  void WriteShort(int n);
  int ReadInt();
  void WriteInt(int n);
  int64_t ReadLong();
  void WriteLong(int64_t n);
  float ReadFloat();
  void WriteFloat(float f);
  double ReadDouble();
  void WriteDouble(double d);
  Text ReadLine();                     // up to LF or NUL, CRs dropped; never raises
  int WriteLine(const Text& text);     // text bytes then CR LF; 1 when all were written
  Text ReadString(int length);         // exactly length bytes, one character each
  void WriteString(const Text& text);  // each character's low byte

  bool swapBytes = false;  // set on a wrapper of the other byte order ("bigendian")
};

using StreamRef = std::shared_ptr<TStream>;

// A stream that forwards every operation to another one.
class TStreamWrapper : public TStream {
 public:
  explicit TStreamWrapper(StreamRef inner) : _stream(std::move(inner)) {}
  int Eof() override { return _stream->Eof(); }
  int Failed() override { return _stream->Failed(); }
  int Pos() override { return _stream->Pos(); }
  int Size() override { return _stream->Size(); }
  int Seek(int pos) override { return _stream->Seek(pos); }
  void Flush() override { _stream->Flush(); }
  void Close() override { _stream->Close(); }
  int Read(void* buf, int count) override { return _stream->Read(buf, count); }
  int Write(const void* buf, int count) override { return _stream->Write(buf, count); }
  StreamRef _stream;
};

// Byte-order wrappers. Everything this game stores is little-endian, so on
// this (little-endian) host LittleEndian hands back the very same stream.
class TXEndianStream : public TStreamWrapper {
 public:
  explicit TXEndianStream(StreamRef inner);  // swaps multi-byte values
  static StreamRef LittleEndian(const StreamRef& stream);
  static StreamRef BigEndian(const StreamRef& stream);
};

// --- Opening ---
StreamRef OpenStreamUrl(const Text& url, bool readable, bool writeable);
StreamRef OpenStreamUrl(const StreamRef& stream, bool readable, bool writeable);  // a wrapper
StreamRef OpenFileForReading(const Text& url);
StreamRef OpenFileForWriting(const Text& url);
// A new, empty file for writing that is nobody else's: whatever has the
// name is removed first (a symbolic link itself, never its target), and the
// file is created only if the name is then free. Null when it cannot be.
StreamRef CreateFreshFile(const Text& path);
int RemoveFile(const Text& path);  // 1 when no file of that name exists afterwards
void CloseStream(const StreamRef& s);

// --- Embedded files ---
int RegisterEmbeddedFile(const Text& name, const void* data, int size);  // 0 if already there

// --- TCP ---
// One deadline for a whole connection: the host-name lookup, connecting,
// sending and every byte of the reply must fit in it. A connection that runs
// past it, or is sent more than the byte cap, is closed and reports Failed.
void SetSocketTimeoutMillis(int ms);
int SocketTimeoutMillis();
void SetSocketByteCap(int bytes);
int SocketByteCap();
constexpr int MAX_LINE_BYTES = 65536;  // ReadLine keeps this much of a line, drops the rest

// --- Diagnostics ---
void PrintLine(const Text& text);  // standard output, CR LF, flushed
void SetPrintLineQuiet(bool quiet);  // while set, PrintLine writes nothing
void PrintErrorLine(const Text& text);  // standard error, LF, flushed
