// Sound in the browser. (First cut: the "OpenAL" driver does not start, so
// the silent "Null" one plays.)
#include "media/audio_driver.h"
#include "media/audio_sample.h"

namespace {
class TAbsentAudioDriver : public TAudioDriver {
 public:
  Text Name() override { return u"OpenAL"; }
  int Startup() override { return 0; }
  void Shutdown() override {}
  TSound* CreateSound(const TAudioSample&, int) override { return nullptr; }
  ChannelRef AllocChannel() override { return SilentChannel(); }
};
}  // namespace

TAudioDriver* OpenALAudioDriver() {
  static TAbsentAudioDriver driver;
  return &driver;
}
void FinishLoadingSounds() {}

// No worker threads in the page: sounds are decoded when they are loaded.
void PreloadSounds(const std::vector<Text>&) {}
std::unique_ptr<TAudioSample> TakePreloadedSample(const Text&, bool& found) {
  found = false;
  return nullptr;
}
int PreloadStatus(const Text&) { return 0; }
void CancelPreloads() {}
