// Playing a sound effect on a fresh channel with its rate, pan and volume
// set before it starts. Without the sound (no media, no audio) nothing plays.
#pragma once
#include "media/audio.h"

inline ChannelRef PlayCue(TSound* sound, float rate, float pan, float volume = -1.0f) {
  if (!sound) return nullptr;
  ChannelRef ch = sound->Cue();
  if (!ch) return nullptr;
  if (volume >= 0) ch->SetVolume(volume);
  ch->SetRate(rate);
  ch->SetPan(pan);
  ch->SetPaused(false);
  return ch;
}
