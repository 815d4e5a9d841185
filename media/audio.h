// Sounds and channels. Sounds are decoded whole at load time; channels are
// voices whose volume, pan and rate the game changes while they play.
#pragma once
#include <memory>
#include "media/text.h"

constexpr int SOUND_LOOPING = 1;

class TChannel {
 public:
  virtual ~TChannel() = default;
  virtual void Stop() = 0;
  virtual void SetPaused(bool paused) = 0;
  virtual void SetVolume(float volume) = 0;  // a negative volume leaves the gain as it was
  virtual void SetPan(float pan) = 0;        // -1 left .. 0 centre .. 1 right
  virtual void SetDepth(float depth) = 0;    // no effect
  virtual void SetRate(float rate) = 0;      // speed and pitch factor
  virtual int Playing() = 0;                 // 1 while audibly playing
};
using ChannelRef = std::shared_ptr<TChannel>;

class TSound {
 public:
  virtual ~TSound() = default;
  virtual ChannelRef Play(ChannelRef channel = nullptr);  // Cue, then SetPaused(false)
  virtual ChannelRef Cue(ChannelRef channel = nullptr) = 0;
};

TSound* LoadSound(const Text& url, int flags = 0);  // null when the file does not decode
int SelectAudioDriver(const Text& name);            // case-insensitive; 1 when it started
Text CurrentAudioDriverName();                      // "" when none
ChannelRef AllocChannel();
