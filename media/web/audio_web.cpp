// Sound in the browser: the "OpenAL" driver on emscripten's OpenAL (Web
// Audio underneath). Browsers keep a page silent until the visitor clicks or
// presses a key; the first of those resumes the audio. A voice is one AL
// source; a channel controls its voice while nobody else has taken it. Long
// sounds (the music) are decoded a quarter second at a time into a few
// buffers queued on their source, refilled once a frame.
#include <AL/al.h>
#include <AL/alc.h>
#include <emscripten.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/stream.h"
#include "media/web/web.h"

namespace {

constexpr int STREAM_BUFFERS = 4, STREAM_MS = 250;

struct TVoice {
  ALuint source = 0;
  int seq = 0;  // bumped when the voice is taken for another sound
  std::unique_ptr<TOggReader> stream;
  ALuint buffers[STREAM_BUFFERS] = {};
  std::vector<uint8_t> scratch;
  bool loop = false, ended = false, wanted = false;

  ALint State() const {
    ALint s = AL_STOPPED;
    alGetSourcei(source, AL_SOURCE_STATE, &s);
    return s;
  }

  bool Fill(ALuint buffer) {
    int used = 0, size = int(scratch.size());
    bool rewound = false;
    while (used < size && !ended) {
      int got = stream->Read(scratch.data() + used, size - used);
      if (got > 0) used += got;
      else if (got == 0 && loop && !rewound && stream->Rewind()) rewound = true;
      else ended = true;
    }
    if (used == 0) return false;
    alBufferData(buffer, stream->format == SF_MONO16LE ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16,
                 scratch.data(), used, stream->hertz);
    return true;
  }

  void Feed() {
    if (!stream) return;
    ALint done = 0;
    alGetSourcei(source, AL_BUFFERS_PROCESSED, &done);
    for (; done > 0; --done) {
      ALuint buffer = 0;
      alSourceUnqueueBuffers(source, 1, &buffer);
      if (Fill(buffer)) alSourceQueueBuffers(source, 1, &buffer);
    }
    ALint queued = 0;
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    if (wanted && !ended && State() == AL_STOPPED && queued > 0) alSourcePlay(source);
  }

  // Stopped and emptied, ready for another sound.
  void Clear() {
    alSourceStop(source);
    alSourcei(source, AL_BUFFER, 0);
    if (stream) alDeleteBuffers(STREAM_BUFFERS, buffers);
    stream.reset();
    wanted = ended = false;
  }
};

std::vector<std::shared_ptr<TVoice>> voices;

class TWebChannel : public TChannel {
 public:
  explicit TWebChannel(std::shared_ptr<TVoice> v) : voice(std::move(v)), seq(voice->seq) {}
  bool Owns() const { return voice->seq == seq; }
  void Stop() override {
    if (Owns()) voice->Clear(), ++voice->seq;
  }
  void SetPaused(bool paused) override {
    if (!Owns()) return;
    voice->wanted = !paused;
    if (paused) alSourcePause(voice->source);
    else if (voice->State() != AL_PLAYING) alSourcePlay(voice->source);
  }
  void SetVolume(float v) override {
    if (Owns() && v >= 0) alSourcef(voice->source, AL_GAIN, v);
  }
  void SetPan(float pan) override {
    if (!Owns()) return;
    double a = double(pan) * (M_PI / 2);
    alSource3f(voice->source, AL_POSITION, float(std::sin(a)), 0.0f, float(-std::cos(a)));
  }
  void SetDepth(float) override {}
  void SetRate(float rate) override {
    if (Owns() && rate > 0) alSourcef(voice->source, AL_PITCH, rate);
  }
  int Playing() override { return Owns() && voice->State() == AL_PLAYING; }

  std::shared_ptr<TVoice> voice;
  int seq;
};

// A voice nobody plays on and no channel still holds, or a new one.
std::shared_ptr<TVoice> FreeVoice() {
  for (auto& v : voices) {
    ALint s = v->State();
    if (v.use_count() == 1 && s != AL_PLAYING && s != AL_PAUSED) {
      v->Clear();
      ++v->seq;
      return v;
    }
  }
  auto v = std::make_shared<TVoice>();
  alGenSources(1, &v->source);
  if (alGetError() != AL_NO_ERROR) return nullptr;
  voices.push_back(v);
  return v;
}

class TWebSound : public TSound {
 public:
  ALuint buffer = 0;
  Text streamed;  // the url of a long sound, decoded as it plays
  std::string name;  // its file's name, "" for a sound made from samples
  bool loop = false;

  // The page hears what the game plays: Module.soundsPlayed counts the
  // sounds the game sets going, by file name, whether or not the page has
  // let sound out yet.
  ChannelRef Cue(ChannelRef channel) override {
    if (!name.empty()) {
      EM_ASM({
        var played = Module.soundsPlayed = Module.soundsPlayed || {};
        var n = UTF8ToString($0);
        played[n] = (played[n] || 0) + 1;
      }, name.c_str());
    }
    std::shared_ptr<TVoice> v;
    if (auto* ch = dynamic_cast<TWebChannel*>(channel.get())) {
      if (!ch->Owns()) return channel;
      v = ch->voice;
      v->Clear();
    } else if (channel) {
      return channel;
    } else if (!(v = FreeVoice())) {
      return SilentChannel();
    }
    alSourcei(v->source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSourcef(v->source, AL_GAIN, 1.0f);
    alSourcef(v->source, AL_PITCH, 1.0f);
    alSource3f(v->source, AL_POSITION, 0.0f, 0.0f, 1.0f);
    alSourcei(v->source, AL_LOOPING, loop && streamed.empty() ? AL_TRUE : AL_FALSE);
    if (streamed.empty()) {
      alSourcei(v->source, AL_BUFFER, ALint(buffer));
    } else if ((v->stream = TOggReader::Open(OpenFileForReading(streamed)))) {
      v->loop = loop;
      v->scratch.resize(size_t(v->stream->hertz * STREAM_MS / 1000) *
                        AudioFormatBytesPerFrame(v->stream->format));
      alGenBuffers(STREAM_BUFFERS, v->buffers);
      for (ALuint b : v->buffers)
        if (v->Fill(b)) alSourceQueueBuffers(v->source, 1, &b);
    }
    if (channel) return channel;
    return std::make_shared<TWebChannel>(v);
  }
};

class TWebAudioDriver : public TAudioDriver {
 public:
  ALCdevice* device = nullptr;
  ALCcontext* context = nullptr;

  Text Name() override { return u"OpenAL"; }

  int Startup() override {
    if (context) return 1;
    device = alcOpenDevice(nullptr);
    context = device ? alcCreateContext(device, nullptr) : nullptr;
    if (!context || !alcMakeContextCurrent(context)) return 0;
    // The page's first click or key lets the sound out.
    EM_ASM({
      if (typeof document == 'undefined') return;
      var resume = function() {
        for (var id in AL.contexts)
          if (AL.contexts[id] && AL.contexts[id].audioCtx) AL.contexts[id].audioCtx.resume();
      };
      document.addEventListener('click', resume);
      document.addEventListener('keydown', resume);
      Module.soundOn = function() {
        for (var id in AL.contexts)
          if (AL.contexts[id] && AL.contexts[id].audioCtx.state == 'running') return true;
        return false;
      };
    });
    return 1;
  }

  void Shutdown() override {}

  TSound* CreateSound(const TAudioSample& sample, int flags) override {
    ALenum format = sample.format == SF_MONO16LE ? AL_FORMAT_MONO16
                    : sample.format == SF_STEREO16LE ? AL_FORMAT_STEREO16
                    : sample.format == SF_MONO8 ? AL_FORMAT_MONO8
                    : sample.format == SF_STEREO8 ? AL_FORMAT_STEREO8 : 0;
    if (!context || !format) return nullptr;
    auto* sound = new TWebSound;
    alGenBuffers(1, &sound->buffer);
    alBufferData(sound->buffer, format, sample.samples, sample.ByteSize(), sample.hertz);
    sound->loop = flags & SOUND_LOOPING;
    return sound;
  }

  TSound* LoadSound(const Text& url, int flags) override {
    TWebSound* sound = nullptr;
    if (context && OpenLongSound(url)) {
      sound = new TWebSound;
      sound->streamed = url;
      sound->loop = flags & SOUND_LOOPING;
    } else {
      sound = static_cast<TWebSound*>(TAudioDriver::LoadSound(url, flags));
    }
    if (sound) sound->name = ByteString(url.substr(url.rfind(u':') + 1));
    return sound;
  }

  ChannelRef AllocChannel() override {
    auto v = context ? FreeVoice() : nullptr;
    if (!v) return SilentChannel();
    return std::make_shared<TWebChannel>(v);
  }
};

TWebAudioDriver driver;

}  // namespace

TAudioDriver* OpenALAudioDriver() { return &driver; }
void FinishLoadingSounds() {}

void WebFeedSound() {
  for (auto& v : voices) v->Feed();
}

// No worker threads in the page: sounds are decoded when they are loaded.
void PreloadSounds(const std::vector<Text>&) {}
std::unique_ptr<TAudioSample> TakePreloadedSample(const Text&, bool& found) {
  found = false;
  return nullptr;
}
int PreloadStatus(const Text&) { return 0; }
void CancelPreloads() {}
