// The settings file under any bytes: written back unchanged apart from a
// final line end, a setting made afterwards reads back as set, and every
// setting it did not touch keeps its value.
#include <vector>

#include "media/config.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  ParseConfig(bytes);
  std::vector<uint8_t> out = ConfigBytes();
  std::vector<uint8_t> expected = bytes;
  if (!expected.empty() && expected.back() != '\n') expected.push_back('\n');
  FUZZ_CHECK(out == expected);

  const Text keys[] = {u"volume", u"server", u"a"};
  Text before[3];
  for (int i = 0; i < 3; ++i) before[i] = ConfigText(keys[i], u"\n");
  Text value = AsciiText(std::string(reinterpret_cast<const char*>(data), size < 12 ? size : 12));
  bool taken = SetConfigText(u"server", value);
  ParseConfig(ConfigBytes());
  if (taken) {
    Text got = ConfigText(u"server", u"\n");
    FUZZ_CHECK(!got.empty() || value.find_first_not_of(u" \t") == Text::npos);
    FUZZ_CHECK(value.find(got) != Text::npos);
  } else {
    FUZZ_CHECK(ConfigText(u"server", u"\n") == before[1]);
  }
  FUZZ_CHECK(ConfigText(u"volume", u"\n") == before[0]);
  FUZZ_CHECK(ConfigText(u"a", u"\n") == before[2]);
  return 0;
}
