// The null backend: the media core on a machine with no display, no sound
// and no fonts to render, for programs that only run the game's logic.
#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/graphics.h"
#include "media/image_impl.h"
#include "media/input.h"
#include "media/platform.h"

T2DDriver* HeadlessDriver();  // headless_driver.cpp

// --- Display and input: every display is headless, no event ever comes ---
T2DDriver* GLDriver() { return HeadlessDriver(); }
void SetAppTitle(const Text&) {}
void SetAppIcon(const TPixmap&) {}
void ShowViewerState(const Text&) {}
void DeliverWindowEvents() {}
void SetMouseVisible(bool) {}
int GamepadCount() { return 0; }
void SetPadStartIsSpace(bool) {}

// --- Sound: "OpenAL" finds no device, so the silent "Null" driver plays ---
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

// No Ogg decoder: every sound file fails to load, as a file that does not decode.
struct TOggReader::Vorbis {};
std::unique_ptr<TOggReader> TOggReader::Open(std::shared_ptr<TStream>) { return nullptr; }
TOggReader::~TOggReader() = default;
int TOggReader::Read(uint8_t*, int) { return -1; }
bool TOggReader::Rewind() { return false; }
std::unique_ptr<TAudioSample> LoadOggSample(TStream&) { return nullptr; }
bool ProbeOggStream(TStream&) { return false; }
long long OggInitialReserve(long long) { return 0; }
std::unique_ptr<TAudioSample> LoadAudioSample(const Text&) { return nullptr; }
bool ProbeAudioUrl(const Text&) { return false; }
std::unique_ptr<TOggReader> OpenLongSound(const Text&) { return nullptr; }

// --- Fonts: no TrueType face loads, so text uses the built-in font ---
std::unique_ptr<TFreeTypeFont> TFreeTypeFont::Load(const Text&, int, int) { return nullptr; }
TFreeTypeFont::~TFreeTypeFont() = default;
int TFreeTypeFont::CharToGlyph(int) const { return -1; }
const TFreeTypeGlyph& TFreeTypeFont::LoadGlyph(int index) { return _glyphs[static_cast<size_t>(index)]; }
