// The audio driver registry, the silent "Null" driver, and the operations the
// game calls on sounds whatever driver is current.
#include "media/audio.h"

#include <memory>
#include <vector>
#include <cstdlib>
#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/system.h"

namespace {

class TNullChannel : public TChannel {
 public:
  void Stop() override {}
  void SetPaused(bool) override {}
  void SetVolume(float) override {}
  void SetPan(float) override {}
  void SetDepth(float) override {}
  void SetRate(float) override {}
  int Playing() override { return 0; }
};

class TNullSound : public TSound {
 public:
  ChannelRef Cue(ChannelRef channel) override { return channel ? channel : SilentChannel(); }
};

class TNullAudioDriver : public TAudioDriver {
 public:
  Text Name() override { return u"Null"; }
  int Startup() override { return 1; }
  void Shutdown() override {}
  TSound* CreateSound(const TAudioSample&, int) override { return Keep(new TNullSound); }
  ChannelRef AllocChannel() override { return SilentChannel(); }
  // Nothing is ever heard, so the file is only checked, not decoded; a
  // preloaded sample, if there is one, is dropped.
  TSound* LoadSound(const Text& url, int) override {
    bool found = false;
    auto sample = TakePreloadedSample(url, found);
    bool ok = found ? sample != nullptr : ProbeAudioUrl(url);
    return ok ? Keep(new TNullSound) : nullptr;
  }

 private:
  // Sounds live for the whole run, as the game's handles do.
  static TSound* Keep(TSound* sound) {
    static auto* kept = new std::vector<std::unique_ptr<TSound>>;
    kept->emplace_back(sound);
    return sound;
  }
};

TAudioDriver* registry = nullptr;
TAudioDriver* current = nullptr;
float masterGain = 1.0f;

void RegisterAudioDriver(TAudioDriver* driver) {
  driver->_succ = registry;
  registry = driver;
}

void RegisterBuiltInDrivers() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterAudioDriver(OpenALAudioDriver());
  RegisterAudioDriver(NullAudioDriver());
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool SameNameIgnoringCase(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// The driver must let go of the device before the process ends, both when the
// game ends through EndProgram and when something else calls exit.
void HookProgramEnd() {
  static bool hooked = false;
  if (hooked) return;
  hooked = true;
  AtProgramEnd([] {
    CancelPreloads();
    ShutdownAudio();
  });
  std::atexit([] {
    CancelPreloads();
    ShutdownAudio();
  });
}

}  // namespace

// With no driver current, loading picks one: "DirectSound", then "Null".
void EnsureAudioDriver() {
  if (current) return;
  if (!SelectAudioDriver(u"DirectSound")) SelectAudioDriver(u"Null");
}

// Drivers live until the process is gone, so the exit hook never meets a
// destroyed one.
TAudioDriver* NullAudioDriver() {
  static auto* driver = new TNullAudioDriver;
  return driver;
}

TAudioDriver* AudioDrivers() {
  RegisterBuiltInDrivers();
  return registry;
}

TAudioDriver* CurrentAudioDriver() { return current; }

ChannelRef SilentChannel() { return std::make_shared<TNullChannel>(); }

TSound* TAudioDriver::LoadSound(const Text& url, int flags) {
  bool found = false;
  auto sample = TakePreloadedSample(url, found);
  if (!found) sample = LoadAudioSample(url);
  return sample ? CreateSound(*sample, flags) : nullptr;
}

int SelectAudioDriver(const Text& name) {
  HookProgramEnd();
  ShutdownAudio();
  for (TAudioDriver* d = AudioDrivers(); d; d = d->_succ) {
    if (!SameNameIgnoringCase(d->Name(), name)) continue;
    if (!d->Startup()) return 0;
    current = d;
    d->SetMasterGain(masterGain);
    return 1;
  }
  return 0;
}

void ShutdownAudio() {
  if (!current) return;
  TAudioDriver* d = current;
  current = nullptr;
  d->Shutdown();
}

Text CurrentAudioDriverName() { return current ? current->Name() : Text(); }

TSound* LoadSound(const Text& url, int flags) {
  EnsureAudioDriver();
  return current->LoadSound(url, flags);
}

TSound* LoadSound(const TAudioSample& sample, int flags) {
  EnsureAudioDriver();
  return current->CreateSound(sample, flags);
}

TSound* TSound::Load(const Text& url, int flags) { return LoadSound(url, flags); }

ChannelRef TSound::Play(ChannelRef channel) {
  ChannelRef c = Cue(std::move(channel));
  if (c) c->SetPaused(false);
  return c;
}

ChannelRef AllocChannel() { return current ? current->AllocChannel() : SilentChannel(); }

ChannelRef PlaySound(TSound* sound, ChannelRef channel) {
  if (!sound) return channel ? channel : SilentChannel();
  ChannelRef c = sound->Play(std::move(channel));
  return c ? c : SilentChannel();
}

ChannelRef CueSound(TSound* sound, ChannelRef channel) {
  if (!sound) return channel ? channel : SilentChannel();
  ChannelRef c = sound->Cue(std::move(channel));
  return c ? c : SilentChannel();
}

void SetMasterVolume(float gain) {
  masterGain = gain < 0 ? 0.0f : gain > 1 ? 1.0f : gain;
  if (current) current->SetMasterGain(masterGain);
}

float MasterVolume() { return masterGain; }
