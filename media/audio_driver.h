// Audio output drivers. They form a registry searched by name; one at most is
// current. "Null" is always there and plays nothing; "OpenAL" sits on OpenAL Soft.
#pragma once
#include "media/audio.h"

class TAudioSample;

class TAudioDriver {
 public:
  virtual ~TAudioDriver() = default;
  virtual Text Name() = 0;
  virtual int Startup() = 0;  // 1 = ready
  virtual void Shutdown() = 0;
  virtual TSound* CreateSound(const TAudioSample& sample, int flags) = 0;  // null on failure
  virtual ChannelRef AllocChannel() = 0;
  virtual TSound* LoadSound(const Text& url, int flags);  // decode (or take the preloaded sample), then CreateSound
  virtual void SetMasterGain(float /*gain*/) {}           // scales every source it plays

  TAudioDriver* _succ = nullptr;
};

TAudioDriver* AudioDrivers();        // head of the registry
TAudioDriver* CurrentAudioDriver();  // null when none
void EnsureAudioDriver();            // none current: "DirectSound", else "Null"
TAudioDriver* NullAudioDriver();
TAudioDriver* OpenALAudioDriver();
TSound* LoadSound(const TAudioSample& sample, int flags = 0);  // the sample as is, on the current driver
ChannelRef SilentChannel();  // a channel that controls nothing

// --- Preloading (audio_preload.cpp) ---
// Hands over a sample PreloadSounds decoded for this url, waiting if it is
// still being decoded; found is false when the url was never preloaded.
std::unique_ptr<TAudioSample> TakePreloadedSample(const Text& url, bool& found);
// 0: not preloaded; 1: being decoded or decoded; -1: known not to decode.
int PreloadStatus(const Text& url);
void CancelPreloads();  // drops queued work and joins the workers
