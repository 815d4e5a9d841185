// The line reader under whatever a server sends: lines end at LF or NUL,
// lose their CRs, keep at most MAX_LINE_BYTES, and together hold every
// other byte in order. The fixed-size reads fail only with the stream's
// own read error.
#include <string>

#include "media/stream.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string expected, line;
  bool open = false;  // bytes since the last line end
  for (size_t i = 0; i < size; ++i) {
    char c = static_cast<char>(data[i]);
    if (c == '\n' || c == '\0') {
      expected += line + '\n';
      line.clear();
      open = false;
    } else {
      open = true;
      if (c != '\r' && line.size() < static_cast<size_t>(MAX_LINE_BYTES)) line += c;
    }
  }
  if (open) expected += line + '\n';

  auto stream = InputStream(data, size);
  std::string got;
  int lastPos = 0;
  while (!stream->Eof()) {
    Text read = stream->ReadLine();
    FUZZ_CHECK(read.size() <= static_cast<size_t>(MAX_LINE_BYTES));
    FUZZ_CHECK(stream->Pos() > lastPos);
    lastPos = stream->Pos();
    got += ByteString(read) + '\n';
  }
  // A last line cut short by the end of the data reads as a line too.
  FUZZ_CHECK(got == expected);

  stream->Seek(0);
  try {
    for (;;) {
      stream->ReadByte();
      stream->ReadShort();
      stream->ReadInt();
      stream->ReadLong();
      stream->ReadDouble();
      Text s = stream->ReadString(size % 7);
      FUZZ_CHECK(s.size() == size % 7);
    }
  } catch (const TStreamReadException&) {
  }
  return 0;
}
