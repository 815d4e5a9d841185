#include "music.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "ogg_io.h"
#include "synth.h"

namespace {

constexpr int SR = 22050;
constexpr double DT = 1.0 / SR;

// ---------------------------------------------------------------- score data
enum Inst { KICK, SNARE, CLAP, HAT, OHAT, SHAKER, RIM, CRASH, TOM, BASS, SOFTBASS, PAD, WARMPAD, LEAD, FLUTE, PLUCK, BELL, INST_COUNT };

// Which mixer bus an instrument plays into.
enum Bus { DRUMS, LOW, CHORDS, MELODY, ARPS, BUS_COUNT };
constexpr Bus BUS_OF[INST_COUNT] = {DRUMS, DRUMS, DRUMS, DRUMS, DRUMS, DRUMS, DRUMS, DRUMS, DRUMS,
                                    LOW,   LOW,   CHORDS, CHORDS, MELODY, MELODY, ARPS, ARPS};

struct Note {
  double beat;  // start, in beats from the top of the piece
  double len;   // held length in beats
  double midi;
  double vel;   // 0..1
  Inst inst;
  double pan;   // -1 left .. +1 right
};

struct Song {
  double framesPerBeat;
  std::vector<Note> notes;
  void Add(double beat, double len, double midi, double vel, Inst inst, double pan = 0) {
    notes.push_back({beat, len, midi, vel, inst, pan});
  }
};

// Note names such as "A4", "C#5", "Bb3"; "-" is a rest (returns -1).
double ParsePitch(const std::string& s) {
  if (s == "-") return -1;
  static const std::map<char, int> base = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5}, {'G', 7}, {'A', 9}, {'B', 11}};
  int pc = base.at(s[0]);
  size_t i = 1;
  if (s[i] == '#') ++pc, ++i;
  else if (s[i] == 'b') --pc, ++i;
  const int octave = std::stoi(s.substr(i));
  return 12 * (octave + 1) + pc;
}

// A melody line written as "A4:1 C5:.5 -:1 ..." (pitch:beats), placed from `beat` on.
double AddLine(Song& song, double beat, const std::string& line, Inst inst, double vel, double pan = 0,
               double transpose = 0, double legato = 0.92) {
  std::istringstream in(line);
  std::string tok;
  while (in >> tok) {
    const size_t colon = tok.find(':');
    const double pitch = ParsePitch(tok.substr(0, colon));
    const double len = std::stod(tok.substr(colon + 1));
    if (pitch >= 0) song.Add(beat, len * legato, pitch + transpose, vel, inst, pan);
    beat += len;
  }
  return beat;
}

// Chords written as "Am", "F", "Cmaj7", "Dm7", "Gsus4", "E": pitch classes of the chord.
std::vector<int> ChordClasses(const std::string& name, int& root) {
  static const std::map<char, int> base = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5}, {'G', 7}, {'A', 9}, {'B', 11}};
  root = base.at(name[0]);
  size_t i = 1;
  if (i < name.size() && name[i] == '#') ++root, ++i;
  else if (i < name.size() && name[i] == 'b') --root, ++i;
  root = (root + 12) % 12;
  const std::string q = name.substr(i);
  std::vector<int> iv;
  if (q == "") iv = {0, 4, 7};
  else if (q == "m") iv = {0, 3, 7};
  else if (q == "7") iv = {0, 4, 7, 10};
  else if (q == "maj7") iv = {0, 4, 7, 11};
  else if (q == "m7") iv = {0, 3, 7, 10};
  else if (q == "sus4") iv = {0, 5, 7};
  else if (q == "sus2") iv = {0, 2, 7};
  else if (q == "add9") iv = {0, 4, 7, 14};
  std::vector<int> out;
  for (int v : iv) out.push_back((root + v) % 12);
  return out;
}

// A close voicing of the chord around `centre`.
std::vector<double> Voice(const std::string& name, double centre, int& root) {
  std::vector<double> notes;
  for (int pc : ChordClasses(name, root)) {
    double best = 0, bestDist = 1e9;
    for (int oct = 2; oct < 8; ++oct) {
      const double m = 12 * oct + pc;
      if (std::abs(m - centre) < bestDist) bestDist = std::abs(m - centre), best = m;
    }
    notes.push_back(best);
  }
  std::sort(notes.begin(), notes.end());
  return notes;
}

std::vector<std::string> Split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  std::string t;
  while (in >> t) out.push_back(t);
  return out;
}

// ---------------------------------------------------------------- voices
double Pan(double pan, int side) {  // constant-power pan gain for side 0 left, 1 right
  const double a = (pan + 1) * 0.25 * std::numbers::pi;
  return side == 0 ? std::cos(a) : std::sin(a);
}

// Renders one note into the stereo bus buffer.
void RenderNote(const Note& n, double framesPerBeat, std::vector<float>& bus, uint64_t seed) {
  const double hold = n.len * framesPerBeat / SR;
  const double f = MidiHz(n.midi);
  double tail = 0.3;
  switch (n.inst) {
    case KICK: tail = 0.5; break;
    case SNARE: case CLAP: tail = 0.4; break;
    case HAT: tail = 0.12; break;
    case OHAT: tail = 0.45; break;
    case SHAKER: tail = 0.15; break;
    case RIM: tail = 0.08; break;
    case CRASH: tail = 2.2; break;
    case TOM: tail = 0.5; break;
    case BASS: tail = hold + 0.05; break;
    case SOFTBASS: tail = hold + 0.25; break;
    case PAD: case WARMPAD: tail = hold + 1.2; break;
    case LEAD: tail = hold + 0.2; break;
    case FLUTE: tail = hold + 0.3; break;
    case PLUCK: tail = 0.5; break;
    case BELL: tail = 2.5; break;
    default: break;
  }
  const size_t start = static_cast<size_t>(std::llround(n.beat * framesPerBeat));
  const size_t frames = static_cast<size_t>(tail * SR);
  Osc o1, o2, o3, o4, o5, o6, lfo;
  Noise noise(seed);
  Svf f1, f2, f3;
  const double v = n.vel;
  // Slightly different start phases per note keep stacked saws from phasing alike.
  o2.phase = 0.31;
  o3.phase = 0.67;
  for (size_t i = 0; i < frames; ++i) {
    const size_t at = start + i;
    if (at * 2 + 1 >= bus.size()) break;
    const double t = i * DT;
    double x = 0, spreadL = 0, spreadR = 0;
    switch (n.inst) {
      case KICK: {
        const double fk = 46.0 + 120.0 * std::exp(-t / 0.03);
        x = std::tanh(1.6 * o1.Sine(fk * DT)) * std::exp(-t / 0.22) + noise.Next() * 0.25 * std::exp(-t / 0.002);
        break;
      }
      case SNARE: {
        f1.Process(noise.Next(), 2600, 0.7, SR);
        x = 0.45 * o1.Sine(190.0 * DT) * std::exp(-t / 0.06) + 0.8 * f1.band * std::exp(-t / 0.11) +
            0.3 * f1.high * std::exp(-t / 0.05);
        break;
      }
      case CLAP: {
        f1.Process(noise.Next(), 1300, 1.2, SR);
        double env = 0;
        for (double at2 : {0.0, 0.011, 0.022}) if (t >= at2) env = std::max(env, std::exp(-(t - at2) / 0.008));
        env = std::max(env, t > 0.022 ? 0.6 * std::exp(-(t - 0.022) / 0.11) : 0.0);
        x = 1.4 * f1.band * env;
        break;
      }
      case HAT: case OHAT: {
        f1.Process(noise.Next(), 7500, 0.8, SR);
        x = 0.7 * f1.high * std::exp(-t / (n.inst == HAT ? 0.028 : 0.16));
        break;
      }
      case SHAKER: {
        f1.Process(noise.Next(), 6000, 0.9, SR);
        x = 0.5 * f1.high * std::min(1.0, t / 0.012) * std::exp(-t / 0.05);
        break;
      }
      case RIM: {
        f1.Process(noise.Next(), 2200, 3.0, SR);
        x = (0.6 * o1.Sine(830.0 * DT) + 0.5 * f1.band) * std::exp(-t / 0.018);
        break;
      }
      case CRASH: {
        f1.Process(noise.Next(), 5200, 0.6, SR);
        x = 0.45 * f1.high * std::min(1.0, t / 0.003) * std::exp(-t / 0.9);
        break;
      }
      case TOM: {
        const double ft = f * (1.0 + 0.6 * std::exp(-t / 0.04));
        x = std::tanh(1.3 * o1.Sine(ft * DT)) * std::exp(-t / 0.2);
        break;
      }
      case BASS: {
        const double env = Adsr(t, hold, 0.003, 0.12, 0.75, 0.04);
        const double raw = 0.5 * o1.Saw(f * DT) + 0.5 * o2.Saw(f * 1.004 * DT);
        f1.Process(raw, 160.0 + 1500.0 * v * std::exp(-t / 0.08), 1.5, SR);
        x = env * (0.8 * f1.low + 0.45 * o3.Sine(f * DT));
        break;
      }
      case SOFTBASS: {
        const double env = Adsr(t, hold, 0.012, 0.4, 0.6, 0.2);
        const double raw = o1.Sine(f * DT) + 0.3 * o2.Tri(f * DT) + 0.15 * o3.Sine(f * 2 * DT);
        f1.Process(raw, 900, 0.7, SR);
        x = env * f1.low;
        break;
      }
      case PAD: case WARMPAD: {
        const bool warm = n.inst == WARMPAD;
        const double env = Adsr(t, hold, warm ? 0.6 : 0.18, 0.6, 0.8, warm ? 1.1 : 0.8);
        const double l = lfo.Sine(0.3 * DT);
        const double a = o1.Saw(f * 0.9959 * DT), b = o2.Saw(f * DT), c = o3.Saw(f * 1.0041 * DT);
        const double cut = (warm ? 900.0 : 1700.0) + (warm ? 250.0 : 500.0) * l;
        f1.Process(a + 0.5 * b, cut, 0.7, SR);
        f2.Process(c + 0.5 * b, cut, 0.7, SR);
        spreadL = env * f1.low * 0.5;
        spreadR = env * f2.low * 0.5;
        break;
      }
      case LEAD: {
        const double env = Adsr(t, hold, 0.006, 0.25, 0.7, 0.12);
        const double vib = 1.0 + 0.005 * o4.Sine(5.6 * DT) * Smooth01((t - 0.15) / 0.2);
        const double raw = 0.55 * o1.Saw(f * vib * DT) + 0.45 * o2.Pulse(f * vib * 1.003 * DT, 0.3);
        f1.Process(raw, 1200.0 + 2600.0 * std::exp(-t / 0.25) + 800.0 * v, 1.1, SR);
        x = env * f1.low;
        break;
      }
      case FLUTE: {
        const double env = Adsr(t, hold, 0.07, 0.3, 0.8, 0.25);
        const double vib = 1.0 + 0.006 * o4.Sine(4.8 * DT) * Smooth01((t - 0.25) / 0.3);
        f1.Process(noise.Next(), f * 2.0, 4.0, SR);
        x = env * (0.8 * o1.Sine(f * vib * DT) + 0.18 * o2.Sine(2 * f * vib * DT) + 0.1 * o3.Tri(f * vib * DT) +
                   0.06 * f1.band);
        break;
      }
      case PLUCK: {
        const double raw = o1.Pulse(f * DT, 0.5) + 0.5 * o2.Saw(f * 2.002 * DT);
        f1.Process(raw, 300.0 + 3800.0 * v * std::exp(-t / 0.05), 1.3, SR);
        x = 0.6 * f1.low * std::min(1.0, t / 0.002) * std::exp(-t / 0.16);
        break;
      }
      case BELL: {
        const double idx = 2.2 * std::exp(-t / 0.35);
        const double mod = std::sin(TAU * o2.phase) * idx;
        o2.Advance(f * 3.5 * DT);
        x = std::sin(TAU * o1.phase + mod) * std::min(1.0, t / 0.002) * std::exp(-t / 0.8) * 0.6;
        o1.Advance(f * DT);
        break;
      }
      default: break;
    }
    double L, R;
    if (n.inst == PAD || n.inst == WARMPAD) {
      L = spreadL * Pan(n.pan - 0.3, 0) + spreadR * Pan(n.pan + 0.3, 0);
      R = spreadL * Pan(n.pan - 0.3, 1) + spreadR * Pan(n.pan + 0.3, 1);
    } else {
      L = x * Pan(n.pan, 0);
      R = x * Pan(n.pan, 1);
    }
    bus[at * 2] += static_cast<float>(L * v);
    bus[at * 2 + 1] += static_cast<float>(R * v);
  }
}

// ---------------------------------------------------------------- mixing
struct Mix {
  double gain[BUS_COUNT];
  double reverbSend[BUS_COUNT];
  double delaySend[BUS_COUNT];
  double delayBeats;
  double roomSize, damping, delayFeedback;
  double duckDepth;  // kick ducking of the chords and arps, 0 = none
  double rmsDb;      // loudness of the finished track
};

// Renders the song, wraps the tail past the loop onto the start so that the
// loop point is seamless, and returns interleaved stereo of exactly `frames`.
std::vector<float> RenderSong(const Song& song, size_t frames, const Mix& mix, const char* name) {
  const size_t tailFrames = 8 * SR;
  const size_t total = frames + tailFrames;
  std::vector<std::vector<float>> buses(BUS_COUNT, std::vector<float>(total * 2, 0.0f));
  std::vector<double> kicks;
  uint64_t seed = 1;
  for (const Note& n : song.notes) {
    RenderNote(n, song.framesPerBeat, buses[BUS_OF[n.inst]], seed++);
    if (n.inst == KICK) kicks.push_back(n.beat * song.framesPerBeat);
  }
  // Kick ducking: the kick of the next loop (the first ones again) also counts.
  std::sort(kicks.begin(), kicks.end());
  const size_t firstKicks = kicks.size();
  for (size_t i = 0; i < firstKicks && kicks[i] < tailFrames; ++i) kicks.push_back(kicks[i] + frames);
  std::sort(kicks.begin(), kicks.end());

  for (int b = 0; b < BUS_COUNT; ++b) {
    const Levels lv = Measure(buses[b]);
    std::fprintf(stderr, "  %s bus %d: rms %.1f dB (before gain)\n", name, b, lv.rmsDb);
  }

  Reverb reverb(SR, mix.roomSize, mix.damping);
  PingPong delay(SR, mix.delayBeats * song.framesPerBeat / SR, mix.delayFeedback, 3000);
  std::vector<float> out(total * 2, 0.0f);
  size_t k = 0;
  for (size_t i = 0; i < total; ++i) {
    while (k + 1 < kicks.size() && kicks[k + 1] <= i) ++k;
    double duck = 1.0;
    if (!kicks.empty() && kicks[k] <= i) duck = 1.0 - mix.duckDepth * std::exp(-(i - kicks[k]) * DT / 0.11);
    double l = 0, r = 0, rev = 0, dl = 0, dr = 0;
    for (int b = 0; b < BUS_COUNT; ++b) {
      double g = mix.gain[b];
      if (b == CHORDS || b == ARPS) g *= duck;
      const double bl = buses[b][i * 2] * g, br = buses[b][i * 2 + 1] * g;
      l += bl;
      r += br;
      rev += (bl + br) * 0.5 * mix.reverbSend[b];
      dl += bl * mix.delaySend[b];
      dr += br * mix.delaySend[b];
    }
    double el, er, yl, yr;
    delay.Process(dl, dr, yl, yr);
    reverb.Process(rev + (yl + yr) * 0.15, el, er);
    out[i * 2] = static_cast<float>(l + el + yl);
    out[i * 2 + 1] = static_cast<float>(r + er + yr);
  }
  // Wrap: whatever rings on past the loop end belongs at its start.
  for (size_t i = 0; i < tailFrames * 2; ++i) out[i] += out[frames * 2 + i];
  out.resize(frames * 2);
  BlockDc(out, 2, SR);
  // Level by loudness, then a soft knee above -6.5 dBFS keeps the peaks well
  // under full scale even after encoding.
  const double gain = DbGain(mix.rmsDb - Measure(out).rmsDb);
  const double knee = DbGain(-6.5), room = DbGain(-3.5) - knee;
  for (float& s : out) {
    const double v = s * gain, a = std::abs(v);
    const double shaped = a <= knee ? a : knee + room * std::tanh((a - knee) / room);
    s = static_cast<float>(v < 0 ? -shaped : shaped);
  }
  const Levels lv = Measure(out);
  std::fprintf(stderr, "  %s: peak %.2f dBFS, rms %.2f dBFS\n", name, lv.peakDb, lv.rmsDb);
  return out;
}

// ---------------------------------------------------------------- in-game track
// A minor, about 146 beats a minute, 112 bars:
// intro 8, A 16, B 16, A' 16, bridge 16, A'' 16, B' 16, turnaround 8.
constexpr size_t INGAME_FRAMES = 4068288;

void DrumBar(Song& s, int bar, int style, Noise& hum) {
  const double b0 = bar * 4.0;
  auto vel = [&](double base) { return base * (0.9 + 0.1 * hum.Next()); };
  switch (style) {
    case 0:  // intro: kick and hats only
      for (int q = 0; q < 4; ++q) s.Add(b0 + q, 0.1, 36, vel(0.9), KICK);
      for (int e = 0; e < 8; ++e) s.Add(b0 + e * 0.5, 0.1, 0, vel(e % 2 ? 0.5 : 0.3), HAT, 0.25);
      break;
    case 1:  // driving: four on the floor, snare and clap on 2 and 4, sixteenth hats
      for (int q = 0; q < 4; ++q) s.Add(b0 + q, 0.1, 36, vel(1.0), KICK);
      s.Add(b0 + 1, 0.1, 0, vel(0.85), SNARE, -0.05);
      s.Add(b0 + 3, 0.1, 0, vel(0.85), SNARE, -0.05);
      s.Add(b0 + 1, 0.1, 0, vel(0.5), CLAP, 0.1);
      s.Add(b0 + 3, 0.1, 0, vel(0.5), CLAP, 0.1);
      for (int x = 0; x < 16; ++x) {
        if (x % 4 == 2) s.Add(b0 + x * 0.25, 0.1, 0, vel(0.45), OHAT, 0.3);
        else s.Add(b0 + x * 0.25, 0.1, 0, vel(x % 2 ? 0.28 : 0.42), HAT, 0.3);
      }
      break;
    case 2:  // broken beat for the B parts
      for (double k : {0.0, 1.5, 2.0, 2.75}) s.Add(b0 + k, 0.1, 36, vel(1.0), KICK);
      s.Add(b0 + 1, 0.1, 0, vel(0.9), SNARE, -0.05);
      s.Add(b0 + 3, 0.1, 0, vel(0.9), SNARE, -0.05);
      s.Add(b0 + 3.75, 0.1, 0, vel(0.3), SNARE, -0.05);
      for (int x = 0; x < 16; ++x) s.Add(b0 + x * 0.25, 0.1, 0, vel(x % 4 == 0 ? 0.45 : 0.25), HAT, 0.3);
      s.Add(b0 + 2.5, 0.1, 0, vel(0.4), OHAT, 0.3);
      break;
    case 3:  // half time for the bridge
      s.Add(b0, 0.1, 36, vel(1.0), KICK);
      s.Add(b0 + 2.5, 0.1, 36, vel(0.8), KICK);
      s.Add(b0 + 2, 0.1, 0, vel(0.9), SNARE);
      s.Add(b0 + 2, 0.1, 0, vel(0.5), CLAP, 0.1);
      for (int e = 0; e < 8; ++e) s.Add(b0 + e * 0.5, 0.1, 0, vel(e % 2 ? 0.25 : 0.4), HAT, 0.3);
      break;
    default: break;
  }
}

// A rising snare roll with toms over the last bar of a section.
void FillBar(Song& s, int bar, Noise& hum) {
  const double b0 = bar * 4.0;
  s.Add(b0, 0.1, 36, 1.0, KICK);
  s.Add(b0 + 1, 0.1, 36, 0.9, KICK);
  for (int x = 0; x < 8; ++x) s.Add(b0 + x * 0.25, 0.1, 0, 0.35 + 0.04 * x + 0.05 * hum.Next(), SNARE, -0.1);
  const double toms[] = {50, 50, 45, 45, 41, 41, 38, 38};
  for (int x = 0; x < 8; ++x) s.Add(b0 + 2 + x * 0.25, 0.1, toms[x], 0.75, TOM, 0.5 - 0.14 * x);
}

Song IngameSong() {
  Song s;
  const int bars = 112;
  s.framesPerBeat = static_cast<double>(INGAME_FRAMES) / (bars * 4);
  Noise hum(777);
  // Chords per bar for each section.
  const std::string chA = "Am F C G Am F C G Am F C G Am F C G";
  const std::string chB = "Dm Am F E Dm Am F E F G Em Am F G E E";
  const std::string chBr = "F G Em Am F G Am Am Dm Em F G F G E E";
  const std::string chIntro = "Am Am F F Am Am G G";
  const std::string chTurn = "Am F G E Am F G E";
  struct Section {
    int bar;
    const std::string* chords;
    char kind;  // I intro, A, a (A'), 2 (A''), B, b (B'), R bridge, T turnaround
  };
  const Section sections[] = {{0, &chIntro, 'I'}, {8, &chA, 'A'},  {24, &chB, 'B'},  {40, &chA, 'a'},
                              {56, &chBr, 'R'},   {72, &chA, '2'}, {88, &chB, 'b'},  {104, &chTurn, 'T'}};

  const std::string themeA1 =
      "A4:1 C5:.5 E5:.5 A5:1 G5:.5 E5:.5  F5:1.5 E5:.5 C5:1 A4:1  G4:.5 C5:.5 E5:1 G5:1 E5:.5 C5:.5  D5:1.5 B4:.5 G4:1 -:1 "
      "A4:1 C5:.5 E5:.5 A5:1 B5:.5 C6:.5  A5:1.5 G5:.5 F5:1 E5:1  E5:.5 G5:.5 C6:1 B5:1 G5:.5 E5:.5  D5:1 E5:1 B4:2";
  const std::string themeA2 =
      "A4:1 C5:.5 E5:.5 A5:1 G5:.5 E5:.5  F5:1.5 E5:.5 C5:1 A4:1  G4:.5 C5:.5 E5:1 G5:1 E5:.5 C5:.5  D5:1.5 B4:.5 G4:1 -:1 "
      "A4:1 C5:.5 E5:.5 A5:1 B5:.5 C6:.5  A5:1.5 G5:.5 F5:1 E5:1  E5:.5 G5:.5 C6:1 B5:1 G5:.5 E5:.5  E5:1 D5:1 C5:1 B4:1";
  const std::string themeB =
      "F5:2 E5:1 D5:1  C5:2 E5:2  A5:2 G5:1 F5:1  G#5:3 B5:1  A5:2 F5:1 D5:1  E5:2 C5:1 A4:1  C5:1 F5:1 A5:1 C6:1  "
      "B5:2 G#5:2  A5:1.5 C6:.5 A5:1 F5:1  G5:1.5 B5:.5 G5:1 D5:1  E5:2 G5:1 B5:1  A5:3 -:1  C6:1 A5:1 F5:1 A5:1  "
      "B5:1 G5:1 D5:1 B4:1  G#4:1 B4:1 E5:1 G#5:1  B5:2 -:2";
  // The turnaround's last bar runs up into the intro.
  const std::string turnLead =
      "A5:2 E5:1 C5:1  F5:2 A5:1 C6:1  B5:1.5 G5:.5 D5:1 B4:1  G#4:1 B4:1 E5:1 G#5:1  "
      "A5:1.5 G5:.5 E5:1 C5:1  F5:1 E5:1 D5:1 C5:1  B4:1 D5:1 G5:1 B5:1  E5:.5 G#5:.5 B5:.5 D6:.5 E6:1 -:1";

  for (const Section& sec : sections) {
    const std::vector<std::string> chords = Split(*sec.chords);
    const int len = static_cast<int>(chords.size());
    for (int i = 0; i < len; ++i) {
      const int bar = sec.bar + i;
      const double b0 = bar * 4.0;
      int root = 0;
      const std::vector<double> pad = Voice(chords[i], 64, root);
      const double bassRoot = 33 + ((root - 9 + 12) % 12);  // A1..G#2
      const bool last = i == len - 1;
      // Drums.
      if (sec.kind == 'I') DrumBar(s, bar, i < 4 ? 0 : 1, hum);
      else if (sec.kind == 'B' || sec.kind == 'b') DrumBar(s, bar, 2, hum);
      else if (sec.kind == 'R') DrumBar(s, bar, i < 8 ? 3 : (i < 12 ? 2 : 1), hum);
      else DrumBar(s, bar, 1, hum);
      if (last && sec.kind != 'I') FillBar(s, bar, hum);
      if (i == 0 && sec.kind != 'I') s.Add(b0, 1, 0, 0.8, CRASH, -0.4);
      // Bass: driving eighths with octave kicks; held notes in the intro's first half.
      if (sec.kind == 'I' && i < 4) {
        if (i % 2 == 0) s.Add(b0, 7.5, bassRoot, 0.5, BASS);
      } else {
        const double oct[8] = {0, 0, 12, 0, 0, 12, 0, 7};
        const double accent[8] = {1.0, 0.6, 0.8, 0.6, 0.9, 0.6, 0.8, 0.7};
        for (int e = 0; e < 8; ++e) {
          const double m = bassRoot + ((sec.kind == 'B' || sec.kind == 'b') && e == 7 ? 10 : oct[e]);
          s.Add(b0 + e * 0.5, 0.42, m, accent[e] * 0.85, BASS);
        }
      }
      // Chords: a held pad, plus stabs on the off-beats in the A parts.
      const double padVel = sec.kind == 'R' ? 0.75 : 0.55;
      for (size_t k = 0; k < pad.size(); ++k) s.Add(b0, 3.9, pad[k], padVel, PAD, -0.5 + 0.5 * k);
      if (sec.kind == 'A' || sec.kind == 'a' || sec.kind == '2')
        for (double off : {0.5, 1.5, 2.5, 3.5})
          for (size_t k = 0; k < pad.size(); ++k) s.Add(b0 + off, 0.2, pad[k] + 12, 0.32, PLUCK, 0.4 - 0.3 * k);
      // Arpeggio: sixteenths over the chord, in the intro, the bridge and the last A.
      if (sec.kind == 'I' || sec.kind == 'R' || sec.kind == '2' || sec.kind == 'T' || sec.kind == 'a') {
        const int pattern[16] = {0, 1, 2, 3, 2, 1, 0, 2, 3, 1, 2, 0, 3, 2, 1, 2};
        std::vector<double> arp = pad;
        arp.push_back(pad[0] + 12);
        const double open = sec.kind == 'I' ? 0.25 + 0.08 * i : 0.75;
        for (int x = 0; x < 16; ++x)
          s.Add(b0 + x * 0.25, 0.2, arp[pattern[x] % arp.size()] + 12, open * (x % 4 == 0 ? 1.0 : 0.7), PLUCK,
                (x % 2 ? 0.45 : -0.45));
      }
    }
    // Melodies.
    const double sb = sec.bar * 4.0;
    switch (sec.kind) {
      case 'A': AddLine(s, sb, themeA1, LEAD, 0.8, 0.05); AddLine(s, sb + 32, themeA2, LEAD, 0.85, 0.05); break;
      case 'a':
        AddLine(s, sb, themeA1, LEAD, 0.8, 0.05);
        AddLine(s, sb + 32, themeA2, LEAD, 0.85, 0.05);
        AddLine(s, sb + 32, themeA2, LEAD, 0.45, -0.35, -12);
        break;
      case '2':
        AddLine(s, sb, themeA1, LEAD, 0.85, 0.05);
        AddLine(s, sb, themeA1, LEAD, 0.4, -0.4, -12);
        AddLine(s, sb + 32, themeA2, LEAD, 0.9, 0.05);
        AddLine(s, sb + 32, themeA2, LEAD, 0.4, -0.4, -12);
        break;
      case 'B': AddLine(s, sb, themeB, LEAD, 0.8, 0.0); break;
      case 'b':
        AddLine(s, sb, themeB, LEAD, 0.85, 0.0);
        AddLine(s, sb, themeB, BELL, 0.35, 0.5, 12, 0.5);
        break;
      case 'T': AddLine(s, sb, turnLead, LEAD, 0.8, 0.05); break;
      case 'R': {
        // The bridge melody: long chord tones, answered by the bell an octave up.
        const std::string bridge =
            "C6:3 B5:.5 A5:.5  B5:4  G5:3 A5:.5 B5:.5  E5:4  A5:2 C6:2  D6:2 B5:2  C6:4  E6:4 "
            "F5:2 A5:2  G5:2 B5:2  A5:2 C6:2  B5:2 D6:2  C6:2 A5:2  D6:2 B5:2  G#5:4  B5:2 E6:2";
        AddLine(s, sb, bridge, LEAD, 0.7, 0.1);
        AddLine(s, sb + 2, bridge, BELL, 0.25, 0.6, 0, 0.5);
        break;
      }
      default: break;
    }
  }
  return s;
}

// ---------------------------------------------------------------- title track
// F major, about 82 beats a minute, 64 bars:
// intro 4, A 12, B 12, A' 12, bridge 8, A'' 12, outro 4.
constexpr size_t TITLE_FRAMES = 4146559;

Song TitleSong() {
  Song s;
  const int bars = 64;
  s.framesPerBeat = static_cast<double>(TITLE_FRAMES) / (bars * 4);
  Noise hum(4242);
  const std::string chIntro = "Fmaj7 Bbmaj7 Fmaj7 Csus4";
  const std::string chA = "Fmaj7 Am7 Bbmaj7 C Fmaj7 Am7 Bbmaj7 C Fmaj7 Am7 Bbmaj7 C";
  const std::string chB = "Dm7 Bbmaj7 Gm7 C Dm7 Bbmaj7 Gm7 A Bbmaj7 C Dm7 C";
  const std::string chBr = "Gm7 Am7 Bbmaj7 C Gm7 Am7 Bbmaj7 Csus4";
  const std::string chOut = "Fmaj7 Bbmaj7 Gm7 Csus4";
  struct Section {
    int bar;
    const std::string* chords;
    char kind;  // I intro, A, a, 2, B, R bridge, O outro
  };
  const Section sections[] = {{0, &chIntro, 'I'}, {4, &chA, 'A'},  {16, &chB, 'B'}, {28, &chA, 'a'},
                              {40, &chBr, 'R'},   {48, &chA, '2'}, {60, &chOut, 'O'}};
  const std::string themeA =
      "C5:1 F5:1 A5:1.5 G5:.5  E5:2 C5:1 E5:1  D5:1 F5:1 Bb5:1.5 A5:.5  G5:3 -:1 "
      "C5:1 F5:1 A5:1 C6:1  G5:1.5 E5:.5 C5:2  D5:1 F5:.5 G5:.5 A5:1 Bb5:1  G5:2 E5:1 C5:1 "
      "A5:2 G5:1 F5:1  E5:2 G5:1 E5:1  D5:1.5 C5:.5 D5:1 F5:1  E5:1 G5:1 F5:2";
  const std::string themeB =
      "F5:1 A5:1 C6:2  D6:1.5 C6:.5 A5:2  Bb5:1 A5:1 G5:1 F5:1  E5:2 G5:2  A5:1 F5:1 D5:1 F5:1  D6:2 F5:2 "
      "G5:1 A5:1 Bb5:1 D6:1  C#6:3 -:1  D6:1 C6:1 Bb5:1 A5:1  G5:1 A5:1 Bb5:1 C6:1  A5:2 F5:1 D5:1  E5:2 G5:1 C5:1";
  const std::string counterA =
      "A4:4 G4:4 F4:4 E4:4  A4:4 C5:4 D5:4 E5:4  C5:4 B4:4 Bb4:4 C5:4";

  for (const Section& sec : sections) {
    const std::vector<std::string> chords = Split(*sec.chords);
    const int len = static_cast<int>(chords.size());
    for (int i = 0; i < len; ++i) {
      const int bar = sec.bar + i;
      const double b0 = bar * 4.0;
      int root = 0;
      const std::vector<double> pad = Voice(chords[i], 62, root);
      const double bassRoot = 36 + ((root - 0 + 12) % 12) - (root >= 8 ? 12 : 0);  // around C2..G#2
      const bool drums = sec.kind == 'A' || sec.kind == 'a' || sec.kind == '2' || sec.kind == 'B';
      // Warm pad on every bar.
      for (size_t k = 0; k < pad.size(); ++k) s.Add(b0, 3.95, pad[k], 0.6, WARMPAD, -0.6 + 0.4 * k);
      // Soft bass: root on 1, fifth on 3, a passing note into the next bar.
      if (sec.kind != 'I') {
        s.Add(b0, 1.8, bassRoot, 0.8, SOFTBASS);
        s.Add(b0 + 2, 1.3, bassRoot + 7, 0.6, SOFTBASS);
        s.Add(b0 + 3.5, 0.45, bassRoot + 12, 0.45, SOFTBASS);
      }
      // Gentle beat: kick on 1 and the "and" of 2, rim on 3, swung shaker eighths.
      if (drums) {
        s.Add(b0, 0.1, 36, 0.75 + 0.05 * hum.Next(), KICK);
        s.Add(b0 + 1.5, 0.1, 36, 0.5, KICK);
        s.Add(b0 + 2, 0.1, 0, 0.55 + 0.05 * hum.Next(), RIM, 0.15);
        if (sec.kind != 'A' || i >= 4) s.Add(b0 + 3, 0.1, 0, 0.35, SNARE, -0.1);
        for (int e = 0; e < 8; ++e)
          s.Add(b0 + e * 0.5 + (e % 2 ? 0.08 : 0.0), 0.1, 0, (e % 2 ? 0.55 : 0.35) * (0.9 + 0.1 * hum.Next()), SHAKER,
                0.35);
      }
      if (sec.kind == 'R' && i >= 4)
        for (int e = 0; e < 8; ++e) s.Add(b0 + e * 0.5 + (e % 2 ? 0.08 : 0.0), 0.1, 0, 0.3, SHAKER, 0.35);
      if (i == 0 && drums) s.Add(b0, 1, 0, 0.35, CRASH, -0.4);
      // Bell arpeggio in eighths, rising and falling over the chord.
      if (sec.kind != 'B') {
        std::vector<double> arp = pad;
        arp.push_back(pad[0] + 12);
        arp.push_back(pad[1] + 12);
        const int pattern[8] = {0, 2, 4, 3, 1, 3, 2, 4};
        const double v = (sec.kind == 'I' || sec.kind == 'R' || sec.kind == 'O') ? 0.55 : 0.32;
        for (int e = 0; e < 8; ++e)
          s.Add(b0 + e * 0.5, 0.4, arp[pattern[e] % arp.size()] + 12, v * (e % 2 ? 0.75 : 1.0), BELL,
                (e % 2 ? 0.5 : -0.5));
      }
      // The outro's last bar lifts back into the intro.
      if (sec.kind == 'O' && i == len - 1) AddLine(s, b0, "C5:1 D5:1 E5:1 G5:1", FLUTE, 0.5, 0.1);
    }
    const double sb = sec.bar * 4.0;
    switch (sec.kind) {
      case 'A': AddLine(s, sb, themeA, FLUTE, 0.85, 0.1); break;
      case 'a':
        AddLine(s, sb, themeA, FLUTE, 0.85, 0.1);
        AddLine(s, sb, counterA, FLUTE, 0.4, -0.4);
        break;
      case '2':
        AddLine(s, sb, themeA, FLUTE, 0.9, 0.1);
        AddLine(s, sb, themeA, BELL, 0.3, -0.3, 12, 0.6);
        AddLine(s, sb, counterA, FLUTE, 0.4, -0.4);
        break;
      case 'B': AddLine(s, sb, themeB, FLUTE, 0.85, 0.0); AddLine(s, sb, themeB, BELL, 0.22, 0.5, 0, 0.6); break;
      default: break;
    }
  }
  return s;
}

}  // namespace

bool WriteMusic(const std::string& dir) {
  bool ok = true;
  {
    const Mix mix{{0.55, 0.55, 0.30, 0.40, 0.28},
                  {0.10, 0.0, 0.35, 0.35, 0.45},
                  {0.0, 0.0, 0.0, 0.25, 0.30},
                  0.75, 0.84, 0.35, 0.35, 0.35, -16.0};
    std::vector<float> out = RenderSong(IngameSong(), INGAME_FRAMES, mix, "music_ingame");
    ok &= WriteOgg(dir + "/music_ingame.ogg", 2, SR, out, 0.3f, 0x51A70101);
  }
  {
    const Mix mix{{0.55, 0.44, 0.30, 0.40, 0.34},
                  {0.25, 0.0, 0.5, 0.55, 0.6},
                  {0.0, 0.0, 0.0, 0.35, 0.3},
                  1.5, 0.88, 0.4, 0.4, 0.0, -17.5};
    std::vector<float> out = RenderSong(TitleSong(), TITLE_FRAMES, mix, "music_title");
    ok &= WriteOgg(dir + "/music_title.ogg", 2, SR, out, 0.3f, 0x51A70102);
  }
  if (!ok) std::fprintf(stderr, "mediagen: cannot write the music\n");
  return ok;
}
