// Streams: every byte the game reads or writes goes through one of these,
// opened from a url: "incbin::name" (embedded files), "tcp::host[:port]",
// or a plain file path.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
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
  virtual int Eof();                       // Pos = Size by default
  virtual int Pos() { return -1; }         // -1 when the stream cannot seek
  virtual int Size() { return -1; }
  virtual int Seek(int pos) { (void)pos; return -1; }
  virtual void Flush() {}
  virtual void Close() {}
  virtual int Read(void* buf, int count) = 0;         // bytes read, 0 at end or on error
  virtual int Write(const void* buf, int count) = 0;  // bytes written
};

class TStream : public TIO {
 public:
  void ReadBytes(void* buf, int count);          // raises TStreamReadException when short
  void WriteBytes(const void* buf, int count);   // raises TStreamWriteException when short
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
  Text ReadLine();                 // up to LF or NUL, CRs dropped; never raises
  int WriteLine(const Text& text);  // text bytes then CR LF; 1 when all were written
  Text ReadString(int length);     // exactly length bytes, one character each
  void WriteString(const Text& text);  // each character's low byte
};

using StreamRef = std::shared_ptr<TStream>;

// --- Opening ---
StreamRef OpenStreamUrl(const Text& url, bool readable, bool writeable);
StreamRef OpenFileForReading(const Text& url);
StreamRef OpenFileForWriting(const Text& url);
int RemoveFile(const Text& path);   // 1 when no file of that name exists afterwards
void CloseStream(const StreamRef& s);

// --- Embedded files ---
int RegisterEmbeddedFile(const Text& name, const void* data, int size);  // 0 if already there

// --- Diagnostics ---
void PrintLine(const Text& text);   // standard output, CR LF, flushed
