// Sounds and channels. Short sounds are decoded whole at load time; long ones
// (over STREAMED_SOUND_BYTES decoded, such as the music) are decoded a piece
// at a time while they play. Channels are voices whose volume, pan and rate
// the game changes while they play.
#pragma once
#include <memory>
#include <vector>

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
  virtual ChannelRef Play(ChannelRef channel = nullptr);     // Cue, then SetPaused(false)
  virtual ChannelRef Cue(ChannelRef channel = nullptr) = 0;  // attached, not yet playing
  static TSound* Load(const Text& url, int flags = 0);       // LoadSound
};

TSound* LoadSound(const Text& url, int flags = 0);  // null when the file does not decode
int SelectAudioDriver(const Text& name);            // case-insensitive; 1 when it started
Text CurrentAudioDriverName();                      // "" when none
ChannelRef AllocChannel();                          // a channel of its own, kept until Stop

// --- Null-tolerant helpers: a null sound plays nothing on a silent channel ---
ChannelRef PlaySound(TSound* sound, ChannelRef channel = nullptr);
ChannelRef CueSound(TSound* sound, ChannelRef channel = nullptr);

// --- Start-up ---
// Decodes these urls (long sounds excepted) on worker threads while the
// caller goes on. LoadSound of one of them then returns at once (after a look
// at the headers); the sound takes its decoded data when it is first cued,
// waiting only if that file is not finished yet. Call it after the driver has
// been chosen: with no driver current it picks one as LoadSound would, and on
// the silent driver nothing needs decoding.
void PreloadSounds(const std::vector<Text>& urls);
// Waits for the preloads still decoding and gives their sounds their
// buffers, so that no sound stalls its first play.
void FinishLoadingSounds();
void ShutdownAudio();  // shuts the current driver down; runs at program end

// --- The player's volume ---
// Scales everything heard, music and effects alike, on top of the
// game's own channel volumes; kept across driver changes.
void SetMasterVolume(float gain);  // 0 silent .. 1 as made (the start)
float MasterVolume();
