// The "OpenAL" audio driver on OpenAL Soft. A sound is one AL buffer; a
// channel is a claim on an AL source. Sources are shared: a play without a
// channel takes the first source that has finished (or was stopped), so a
// channel only controls its source while the source's _seq still matches the
// one it got; after that every call on it does nothing.
//
// A long sound (the music) has no buffer of its own: each play of it decodes
// the file a piece at a time into a few buffers queued on its source, which a
// feeder thread refills as they are played (on a loopback device, the render
// call refills them, so tests hear the same sound however fast they render).
//
// OpenAL itself is loaded when the driver first starts, not linked: on a
// machine without libopenal.so.1 the driver fails to start and the game
// falls back to the silent one, as SDL does with its own back ends.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <AL/efx.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/audio_test_seam.h"
#include "media/stream.h"

namespace {

// clang-format off
#define OPENAL_FUNCTIONS(X) \
  X(alBufferData, LPALBUFFERDATA) \
  X(alDeleteBuffers, LPALDELETEBUFFERS) \
  X(alDeleteSources, LPALDELETESOURCES) \
  X(alGenBuffers, LPALGENBUFFERS) \
  X(alGenSources, LPALGENSOURCES) \
  X(alGetError, LPALGETERROR) \
  X(alGetSourcei, LPALGETSOURCEI) \
  X(alListenerf, LPALLISTENERF) \
  X(alSource3f, LPALSOURCE3F) \
  X(alSourcePause, LPALSOURCEPAUSE) \
  X(alSourcePlay, LPALSOURCEPLAY) \
  X(alSourceRewind, LPALSOURCEREWIND) \
  X(alSourceStop, LPALSOURCESTOP) \
  X(alSourcef, LPALSOURCEF) \
  X(alSourcei, LPALSOURCEI) \
  X(alcCloseDevice, LPALCCLOSEDEVICE) \
  X(alcCreateContext, LPALCCREATECONTEXT) \
  X(alcDestroyContext, LPALCDESTROYCONTEXT) \
  X(alcGetProcAddress, LPALCGETPROCADDRESS) \
  X(alcIsExtensionPresent, LPALCISEXTENSIONPRESENT) \
  X(alcMakeContextCurrent, LPALCMAKECONTEXTCURRENT) \
  X(alcOpenDevice, LPALCOPENDEVICE) \
  X(alSourceQueueBuffers, LPALSOURCEQUEUEBUFFERS) \
  X(alSourceUnqueueBuffers, LPALSOURCEUNQUEUEBUFFERS)
// clang-format on

// Inside this namespace these pointers hide the library's own prototypes.
#define DECLARE_POINTER(name, type) type name = nullptr;
OPENAL_FUNCTIONS(DECLARE_POINTER)
#undef DECLARE_POINTER

std::string openALLibrary = "libopenal.so.1";
void* openALHandle = nullptr;

// True once every function the driver calls has been found.
bool LoadOpenAL() {
  if (openALHandle) return true;
  void* lib = dlopen(openALLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) return false;
  bool all = true;
#define RESOLVE(name, type) all = (name = reinterpret_cast<type>(dlsym(lib, #name))) && all;
  OPENAL_FUNCTIONS(RESOLVE)
#undef RESOLVE
  if (!all) {
    dlclose(lib);
    return false;
  }
  openALHandle = lib;
  return true;
}

class TOpenALSound;

// A streamed sound playing on a source: its own reader, and buffers of a
// quarter second each that take turns on the source's queue.
constexpr int STREAM_BUFFERS = 6;
constexpr int STREAM_BUFFER_MS = 250;
constexpr auto FEED_INTERVAL = std::chrono::milliseconds(40);

struct TStreamVoice {
  std::unique_ptr<TOggReader> reader;
  ALuint buffers[STREAM_BUFFERS] = {};
  std::vector<uint8_t> scratch;  // one buffer's worth of PCM
  bool loop = false;
  bool wanted = false;  // told to play: an underrun restarts the source
  bool ended = false;   // the reader has given its last frame

  ~TStreamVoice() { alDeleteBuffers(STREAM_BUFFERS, buffers); }

  // Decodes the next piece into the buffer; false when nothing is left.
  bool Fill(ALuint buffer) {
    int used = 0, size = int(scratch.size());
    bool rewound = false;
    while (used < size && !ended) {
      int got = reader->Read(scratch.data() + used, size - used);
      if (got > 0) {
        used += got;
      } else if (got == 0 && loop && !rewound && reader->Rewind()) {
        rewound = true;  // the loop goes on without a gap
      } else {
        ended = true;  // the end, or a file that broke off: silence from here
      }
    }
    if (used == 0) return false;
    ALenum format = reader->format == SF_MONO16LE ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
    alBufferData(buffer, format, scratch.data(), used, reader->hertz);
    return true;
  }

  // Refills the buffers the source has played; restarts a source that ran dry.
  void Feed(ALuint source) {
    ALint processed = 0;
    alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
    for (; processed > 0; --processed) {
      ALuint buffer = 0;
      alSourceUnqueueBuffers(source, 1, &buffer);
      if (Fill(buffer)) alSourceQueueBuffers(source, 1, &buffer);
    }
    ALint state = AL_STOPPED, queued = 0;
    alGetSourcei(source, AL_SOURCE_STATE, &state);
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    if (wanted && !ended && state == AL_STOPPED && queued > 0) alSourcePlay(source);
  }

  // Back to the first frame with every buffer filled and queued, not playing.
  void Restart(ALuint source) {
    alSourceStop(source);
    alSourcei(source, AL_BUFFER, 0);
    ended = !reader->Rewind();
    for (ALuint buffer : buffers)
      if (Fill(buffer)) alSourceQueueBuffers(source, 1, &buffer);
  }
};

struct TOpenALSource {
  TOpenALSource* _succ = nullptr;  // next in the shared list
  ALuint _id = 0;                  // 0 once the driver has shut down
  int _seq = 0;                    // bumped whenever the source is taken from its channel
  TOpenALSound* _sound = nullptr;
  bool _shared = false;                   // in the shared list (not held by a static channel)
  int _holders = 0;                       // channel objects alive with the current _seq
  std::unique_ptr<TStreamVoice> _stream;  // while a streamed sound is on it

  // Taken from its channel: the channel objects that had it hold nothing.
  void Detach() {
    ++_seq;
    _holders = 0;
  }

  ALint State() const {
    ALint state = AL_STOPPED;
    alGetSourcei(_id, AL_SOURCE_STATE, &state);
    return state;
  }
};

class TOpenALDriver;
TOpenALDriver& Driver();

class TOpenALChannel : public TChannel {
 public:
  TOpenALChannel(std::shared_ptr<TOpenALSource> source, int isStatic)
      : _source(std::move(source)), _seq(_source->_seq), _static(isStatic) {
    ++_source->_holders;
  }
  ~TOpenALChannel() override {
    if (_source && _source->_seq == _seq) --_source->_holders;
  }

  bool Owns() const { return _source && _source->_id != 0 && _source->_seq == _seq; }

  void Stop() override;
  void SetPaused(bool paused) override;
  // OpenAL would refuse a negative gain and keep the old one; skipping it
  // here has the same effect without leaving an AL error behind.
  void SetVolume(float volume) override {
    if (Owns() && volume >= 0) alSourcef(_source->_id, AL_GAIN, volume);
  }
  // The source sits on the unit circle around the listener: -1 is 90 degrees
  // to the left, 0 straight ahead, 1 to the right.
  void SetPan(float pan) override {
    if (!Owns()) return;
    double angle = double(pan) * (3.14159265358979323846 / 2.0);
    alSource3f(_source->_id, AL_POSITION, float(std::sin(angle)), 0.0f, float(-std::cos(angle)));
  }
  void SetDepth(float) override {}
  void SetRate(float rate) override {
    if (Owns() && rate >= 0) alSourcef(_source->_id, AL_PITCH, rate);
  }
  int Playing() override { return Owns() && _source->State() == AL_PLAYING ? 1 : 0; }

  std::shared_ptr<TOpenALSource> _source;
  int _seq;
  int _static;  // 1: made by AllocChannel, its source is kept out of the shared list
};

class TOpenALSound : public TSound {
 public:
  TOpenALSound(ALuint buffer, int loop, int session)
      : _buffer(buffer), _loop(loop), _session(session) {}
  ~TOpenALSound() override;
  ChannelRef Cue(ChannelRef channel) override;
  void Resolve();

  ALuint _buffer;  // 0 while pending, streamed, or when the sound plays nothing
  int _loop;
  int _session;    // the driver start that made the buffer
  Text _pending;   // url still being decoded by the preloader
  Text _streamed;  // url of a long sound, decoded as it plays
};

class TOpenALDriver : public TAudioDriver {
 public:
  Text Name() override { return u"OpenAL"; }
  int Startup() override;
  void Shutdown() override;
  TSound* CreateSound(const TAudioSample& sample, int flags) override;
  TSound* LoadSound(const Text& url, int flags) override;
  ChannelRef AllocChannel() override { return NewChannel(1); }
  void SetMasterGain(float gain) override {
    if (_context) alListenerf(AL_GAIN, gain);
  }

  ALuint MakeBuffer(const TAudioSample& sample);  // 0 on failure
  std::shared_ptr<TOpenALChannel> NewChannel(int isStatic);
  void AppendShared(TOpenALSource* source);
  void UnlinkShared(TOpenALSource* source);
  bool Running(int session) const { return _context && session == _session; }
  void ForgetSound(TOpenALSound* sound);
  void Clear(TOpenALSource& source);  // stopped, empty, its stream dropped
  void StartStream(TOpenALSource& source, const TOpenALSound& sound);
  void FeedStreams();
  void StopFeeder();

  ALCdevice* _device = nullptr;
  ALCcontext* _context = nullptr;
  int _session = 0;
  int _loopbackRate = 0;              // test seam: render into memory instead of a device
  bool _loopback = false;             // the running device is a loopback one
  TOpenALSource* _sources = nullptr;  // the shared list
  std::vector<std::shared_ptr<TOpenALSource>> _all;  // every source made since start-up
  std::set<TOpenALSound*> _sounds;                   // sounds whose buffers are alive
  // Guards the sources' streams (and _all) between the game and the feeder.
  std::recursive_mutex _lock;
  std::thread _feeder;
  std::condition_variable_any _feederWake;
  bool _feederStop = false;
};

TOpenALDriver& Driver() {
  static auto* driver = new TOpenALDriver;  // never destroyed: see the exit hook
  return *driver;
}

// --- Driver start and stop ---

ALCdevice* OpenLoopback(int rate, ALCcontext** context) {
  if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return nullptr;
  auto open = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
      alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
  if (!open) return nullptr;
  ALCdevice* device = open(nullptr);
  if (!device) return nullptr;
  // Float output: OpenAL Soft dithers 16-bit output, which would put noise
  // into the silence the tests listen for.
  const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT,
                          ALC_STEREO_SOFT,
                          ALC_FORMAT_TYPE_SOFT,
                          ALC_FLOAT_SOFT,
                          ALC_FREQUENCY,
                          rate,
                          0};
  *context = alcCreateContext(device, attrs);
  return device;
}

int TOpenALDriver::Startup() {
  if (_context) Shutdown();
  if (!LoadOpenAL()) return 0;
  ALCcontext* context = nullptr;
  ALCdevice* device = nullptr;
  if (_loopbackRate > 0) {
    device = OpenLoopback(_loopbackRate, &context);
  } else {
    // The default device first, then the names older OpenAL setups used.
    device = alcOpenDevice(nullptr);
    if (!device) device = alcOpenDevice("Generic Hardware");
    if (!device) device = alcOpenDevice("Generic Software");
    // No effect sends: the game uses none, and each of the context's 256
    // voices would keep room for them.
    const ALCint attrs[] = {ALC_MAX_AUXILIARY_SENDS, 0, 0};
    if (device) context = alcCreateContext(device, attrs);
  }
  if (!device) return 0;
  if (!context || !alcMakeContextCurrent(context)) {
    if (context) alcDestroyContext(context);
    alcCloseDevice(device);
    return 0;
  }
  _device = device;
  _context = context;
  _loopback = _loopbackRate > 0;
  ++_session;
  return 1;
}

void TOpenALDriver::Shutdown() {
  if (!_context) return;
  StopFeeder();
  for (auto& source : _all) {
    Clear(*source);
    alDeleteSources(1, &source->_id);
    source->_id = 0;
    ++source->_seq;
    source->_succ = nullptr;
  }
  _all.clear();
  _sources = nullptr;
  // Sounds outlive the driver (the game keeps them for the whole run); they
  // lose their buffers and play nothing from now on.
  static auto* retired = new std::vector<TOpenALSound*>;  // still the game's handles
  for (TOpenALSound* sound : _sounds) {
    alDeleteBuffers(1, &sound->_buffer);
    sound->_buffer = 0;
    retired->push_back(sound);
  }
  _sounds.clear();
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(_context);
  alcCloseDevice(_device);
  _context = nullptr;
  _device = nullptr;
}

// --- Sounds ---

ALuint TOpenALDriver::MakeBuffer(const TAudioSample& sample) {
  if (!_context) return 0;
  // OpenAL has no big-endian formats.
  std::unique_ptr<TAudioSample> converted;
  const TAudioSample* data = &sample;
  if (sample.format == SF_MONO16BE || sample.format == SF_STEREO16BE) {
    converted = sample.Convert(sample.format == SF_MONO16BE ? SF_MONO16LE : SF_STEREO16LE);
    data = converted.get();
  }
  ALenum format;
  switch (data->format) {
    case SF_MONO8: format = AL_FORMAT_MONO8; break;
    case SF_MONO16LE: format = AL_FORMAT_MONO16; break;
    case SF_STEREO8: format = AL_FORMAT_STEREO8; break;
    case SF_STEREO16LE: format = AL_FORMAT_STEREO16; break;
    default: return 0;
  }
  alGetError();
  ALuint buffer = 0;
  alGenBuffers(1, &buffer);
  if (alGetError() != AL_NO_ERROR) return 0;
  alBufferData(buffer, format, data->samples, data->ByteSize(), data->hertz);
  if (alGetError() != AL_NO_ERROR) {
    alDeleteBuffers(1, &buffer);
    return 0;
  }
  return buffer;
}

TSound* TOpenALDriver::CreateSound(const TAudioSample& sample, int flags) {
  ALuint buffer = MakeBuffer(sample);
  if (!buffer) return nullptr;
  auto* sound = new TOpenALSound(buffer, flags & SOUND_LOOPING, _session);
  _sounds.insert(sound);
  return sound;
}

// A url the preloader is still decoding gives its sound at once; the sound
// gets its buffer when it is first cued, by which time the decoding has
// usually finished. Only the headers are checked now, so a file that breaks
// off halfway gives a sound that plays nothing rather than null.
TSound* TOpenALDriver::LoadSound(const Text& url, int flags) {
  int status = PreloadStatus(url);
  if (status == 0 && _context && OpenLongSound(url)) {
    auto* sound = new TOpenALSound(0, flags & SOUND_LOOPING, _session);
    sound->_streamed = url;
    _sounds.insert(sound);
    return sound;
  }
  if (status == 0) return TAudioDriver::LoadSound(url, flags);
  if (status < 0 || !ProbeAudioUrl(url)) {
    bool found = false;
    TakePreloadedSample(url, found);  // drop it
    return nullptr;
  }
  if (!_context) return nullptr;
  auto* sound = new TOpenALSound(0, flags & SOUND_LOOPING, _session);
  sound->_pending = url;
  _sounds.insert(sound);
  return sound;
}

void TOpenALSound::Resolve() {
  if (_pending.empty()) return;
  Text url = std::move(_pending);
  _pending.clear();
  bool found = false;
  auto sample = TakePreloadedSample(url, found);
  if (!found) sample = LoadAudioSample(url);  // the preloads were cancelled meanwhile
  TOpenALDriver& driver = Driver();
  if (sample && driver.Running(_session)) _buffer = driver.MakeBuffer(*sample);
}

void TOpenALDriver::ForgetSound(TOpenALSound* sound) {
  if (!sound->_pending.empty()) {
    bool found = false;
    TakePreloadedSample(sound->_pending, found);  // the decoded data has no taker now
  }
  if (!_sounds.erase(sound)) return;
  // A source still holding the buffer would keep AL from deleting it.
  std::lock_guard<std::recursive_mutex> guard(_lock);
  for (auto& source : _all) {
    if (source->_sound != sound) continue;
    source->Detach();
    Clear(*source);
    if (!source->_shared) AppendShared(source.get());
  }
  alDeleteBuffers(1, &sound->_buffer);
}

TOpenALSound::~TOpenALSound() { Driver().ForgetSound(this); }

ChannelRef TOpenALSound::Cue(ChannelRef channel) {
  TOpenALDriver& driver = Driver();
  std::lock_guard<std::recursive_mutex> guard(driver._lock);
  Resolve();
  std::shared_ptr<TOpenALChannel> ch;
  if (channel) {
    ch = std::dynamic_pointer_cast<TOpenALChannel>(channel);
    if (!ch) return channel;  // another driver's channel: nothing to control
  } else {
    if (!driver.Running(_session) || (!_buffer && _streamed.empty())) return SilentChannel();
    ch = driver.NewChannel(0);
    if (!ch) return SilentChannel();
  }
  if (!ch->Owns() || !driver.Running(_session)) return ch;
  TOpenALSource& source = *ch->_source;
  driver.Clear(source);
  source._sound = this;
  // Rewinding leaves the source in its initial state: cued, not free for
  // recycling until it has played or been stopped.
  alSourceRewind(source._id);
  alSourcei(source._id, AL_LOOPING, _loop && _streamed.empty() ? AL_TRUE : AL_FALSE);
  if (_streamed.empty()) {
    alSourcei(source._id, AL_BUFFER, ALint(_buffer));
  } else {
    driver.StartStream(source, *this);
    alSourceRewind(source._id);
  }
  return ch;
}

// --- Streams ---

void TOpenALDriver::Clear(TOpenALSource& source) {
  std::lock_guard<std::recursive_mutex> guard(_lock);
  alSourceStop(source._id);
  alSourcei(source._id, AL_BUFFER, 0);
  source._stream.reset();
  source._sound = nullptr;
}

void TOpenALDriver::StartStream(TOpenALSource& source, const TOpenALSound& sound) {
  auto voice = std::make_unique<TStreamVoice>();
  voice->reader = TOggReader::Open(OpenFileForReading(sound._streamed));
  if (!voice->reader) return;  // the file went away: this play is silent
  voice->loop = sound._loop;
  int frames = std::max(1, voice->reader->hertz * STREAM_BUFFER_MS / 1000);
  voice->scratch.resize(size_t(frames) * AudioFormatBytesPerFrame(voice->reader->format));
  alGetError();
  alGenBuffers(STREAM_BUFFERS, voice->buffers);
  if (alGetError() != AL_NO_ERROR) {
    std::fill(std::begin(voice->buffers), std::end(voice->buffers), 0);
    return;
  }
  voice->Restart(source._id);
  source._stream = std::move(voice);
  if (_loopback || _feeder.joinable()) return;
  _feederStop = false;
  _feeder = std::thread([this] {
    std::unique_lock<std::recursive_mutex> guard(_lock);
    while (!_feederStop) {
      FeedStreams();
      _feederWake.wait_for(guard, FEED_INTERVAL);
    }
  });
}

void TOpenALDriver::FeedStreams() {
  std::lock_guard<std::recursive_mutex> guard(_lock);
  for (auto& source : _all)
    if (source->_stream) source->_stream->Feed(source->_id);
}

void TOpenALDriver::StopFeeder() {
  {
    std::lock_guard<std::recursive_mutex> guard(_lock);
    _feederStop = true;
  }
  _feederWake.notify_all();
  if (_feeder.joinable()) _feeder.join();
}

void TOpenALChannel::SetPaused(bool paused) {
  if (!Owns()) return;
  std::lock_guard<std::recursive_mutex> guard(Driver()._lock);
  TOpenALSource& source = *_source;
  ALint state = source.State();
  if (source._stream && !paused && state == AL_STOPPED) {
    // A stream that played to its end starts again from its first frame, as
    // a sound of one buffer does; one that ran dry goes on where it was.
    TStreamVoice& stream = *source._stream;
    stream.wanted = true;
    if (stream.ended) {
      stream.Restart(source._id);
    } else {
      stream.Feed(source._id);
      state = source.State();
    }
  }
  if (source._stream) source._stream->wanted = !paused;
  if (paused) {
    alSourcePause(source._id);
  } else if (state != AL_PLAYING) {
    alSourcePlay(source._id);  // a cued source starts at the beginning, a paused one resumes
  }
}

// --- Channels and sources ---

void TOpenALDriver::AppendShared(TOpenALSource* source) {
  source->_succ = nullptr;
  source->_shared = true;
  TOpenALSource** link = &_sources;
  while (*link) link = &(*link)->_succ;
  *link = source;
}

void TOpenALDriver::UnlinkShared(TOpenALSource* source) {
  for (TOpenALSource** link = &_sources; *link; link = &(*link)->_succ) {
    if (*link == source) {
      *link = source->_succ;
      break;
    }
  }
  source->_succ = nullptr;
  source->_shared = false;
}

std::shared_ptr<TOpenALChannel> TOpenALDriver::NewChannel(int isStatic) {
  if (!_context) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(_lock);
  TOpenALSource* source = nullptr;
  // A cued source that was never played stays with its channel only while
  // that channel is held somewhere; once dropped, it is free again.
  for (TOpenALSource* s = _sources; s; s = s->_succ) {
    ALint state = s->State();
    if (state != AL_PLAYING && state != AL_PAUSED && (state != AL_INITIAL || s->_holders == 0)) {
      source = s;
      break;
    }
  }
  std::shared_ptr<TOpenALSource> owner;
  if (source) {
    source->Detach();  // the channel that had it controls nothing from now on
    Clear(*source);
    for (auto& s : _all)
      if (s.get() == source) owner = s;
  } else {
    alGetError();
    ALuint id = 0;
    alGenSources(1, &id);
    if (alGetError() != AL_NO_ERROR || id == 0) {
      PrintLine(u"Failed to generate OpenAL source");
      return nullptr;
    }
    owner = std::make_shared<TOpenALSource>();
    owner->_id = id;
    _all.push_back(owner);
    AppendShared(owner.get());
    source = owner.get();
  }
  if (isStatic) UnlinkShared(source);
  // A source starts every hand-over from the same settings.
  alSourcei(source->_id, AL_SOURCE_RELATIVE, AL_TRUE);
  alSourcef(source->_id, AL_GAIN, 1.0f);
  alSourcef(source->_id, AL_PITCH, 1.0f);
  alSource3f(source->_id, AL_POSITION, 0.0f, 0.0f, 1.0f);
  return std::make_shared<TOpenALChannel>(owner, isStatic);
}

void TOpenALChannel::Stop() {
  if (!Owns()) return;
  TOpenALSource& source = *_source;
  source.Detach();
  Driver().Clear(source);
  if (_static) Driver().AppendShared(&source);
}

LPALCRENDERSAMPLESSOFT RenderSamples() {
  return reinterpret_cast<LPALCRENDERSAMPLESSOFT>(
      alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
}

}  // namespace

TAudioDriver* OpenALAudioDriver() { return &Driver(); }

void FinishLoadingSounds() {
  TOpenALDriver& driver = Driver();
  std::vector<TOpenALSound*> sounds(driver._sounds.begin(), driver._sounds.end());
  for (TOpenALSound* sound : sounds) sound->Resolve();
}

// --- Test seam ---

void UseOpenALLoopback(int rate) { Driver()._loopbackRate = rate; }

void UseOpenALLibrary(const char* name) {
  if (name == openALLibrary) return;
  Driver().Shutdown();
  openALLibrary = name;
  openALHandle = nullptr;  // the old library stays loaded; its functions are simply not used
}

bool StartOpenALLoopback(int rate) {
  UseOpenALLoopback(rate);
  return SelectAudioDriver(u"OpenAL") == 1;
}

void RenderLoopback(int16_t* out, int frames) {
  TOpenALDriver& driver = Driver();
  auto render = driver._context ? RenderSamples() : nullptr;
  if (!driver._context || !driver._loopback || !render) {
    std::fill(out, out + 2 * frames, int16_t(0));
    return;
  }
  std::vector<float> mix(size_t(frames) * 2);
  // Streams are refilled between slices of a tenth of a second, less than
  // their buffers hold at any rate the game plays them.
  bool streams = false;
  for (auto& source : driver._all) streams = streams || source->_stream;
  int slice = streams ? std::max(1, driver._loopbackRate / 10) : frames;
  for (int done = 0; done < frames; done += slice) {
    driver.FeedStreams();
    render(driver._device, mix.data() + 2 * done, std::min(slice, frames - done));
  }
  for (size_t i = 0; i < mix.size(); ++i)
    out[i] = int16_t(std::lround(std::clamp(mix[i] * 32767.0f, -32768.0f, 32767.0f)));
}

int OpenALSourceCount() { return int(Driver()._all.size()); }
