#include "effects.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "ogg_io.h"
#include "synth.h"

namespace {

constexpr int SR = 44100;
constexpr double DT = 1.0 / SR;

// Short fades at both ends so that no effect starts or stops with a click.
void FadeEdges(std::vector<float>& s, double inMs, double outMs) {
  const size_t in = static_cast<size_t>(inMs * SR / 1000.0), out = static_cast<size_t>(outMs * SR / 1000.0);
  for (size_t i = 0; i < in && i < s.size(); ++i) s[i] *= static_cast<float>(i) / in;
  for (size_t i = 0; i < out && i < s.size(); ++i) s[s.size() - 1 - i] *= static_cast<float>(i) / out;
}

std::vector<float> Render(int frames, const std::function<double(double)>& sample) {
  std::vector<float> s(frames);
  for (int i = 0; i < frames; ++i) s[i] = static_cast<float>(sample(i * DT));
  return s;
}

// A quick rising blip, a fifth apart. Played faster and higher as the combo climbs.
std::vector<float> Pickup() {
  Osc a, b, c;
  return Render(2724, [&](double t) {
    const double f = t < 0.018 ? 880.0 : 1318.5;
    const double env = t < 0.018 ? std::min(1.0, t / 0.002) * 0.8 : std::exp(-(t - 0.018) / 0.018);
    const double dt = f * DT;
    return env * (0.7 * a.Sine(dt) + 0.18 * b.Tri(dt * 2.0) + 0.12 * c.Sine(dt * 3.0));
  });
}

// The tick of the level being drawn: a bright ping over a tiny noise click.
std::vector<float> DrawLevel() {
  Osc a, b;
  Noise n(11);
  Svf bp;
  return Render(3996, [&](double t) {
    bp.Process(n.Next(), 3200, 2.0, SR);
    const double click = bp.band * std::exp(-t / 0.004) * 1.2;
    const double ping = std::exp(-t / 0.022) * (0.7 * a.Sine(1567.98 * DT) + 0.25 * b.Sine(3135.96 * DT));
    return click + ping;
  });
}

// A chaser changes direction: a soft filtered "bwoop" falling an octave.
std::vector<float> ChaserTurn() {
  Osc a, lfo;
  Svf lp;
  return Render(12073, [&](double t) {
    const double f = 440.0 * std::pow(0.5, std::min(t / 0.16, 1.0)) * (1.0 + 0.02 * lfo.Sine(18.0 * DT));
    const double x = a.Pulse(f * DT, 0.35);
    lp.Process(x, 300 + 2400 * std::exp(-t / 0.07), 2.5, SR);
    const double env = std::min(1.0, t / 0.006) * std::exp(-t / 0.08);
    return lp.low * env;
  });
}

// The warning crackle while a chaser is near. It is retriggered every tick, so
// its energy sits at the very start and it stays soft and band-limited.
std::vector<float> Collision() {
  Noise n(29), gate(31);
  Svf bp, lp;
  Osc buzz;
  return Render(19198, [&](double t) {
    const double density = 0.02 * std::exp(-t / 0.12);
    const double spark = (gate.Next() * 0.5 + 0.5) < density ? n.Next() * 6.0 : 0.0;
    bp.Process(spark, 2300, 3.0, SR);
    lp.Process(buzz.Pulse(98.0 * DT, 0.3), 700, 0.8, SR);
    const double env = std::min(1.0, t / 0.003) * std::exp(-t / 0.09);
    const double am = 0.6 + 0.4 * std::sin(TAU * 31.0 * t);
    return env * (0.55 * bp.band + 0.35 * lp.low * am);
  });
}

// Opening a gap: a sharp zap diving from high to low.
std::vector<float> MakeGap() {
  Osc a, b, ring;
  Noise n(41);
  Svf lp;
  return Render(10346, [&](double t) {
    const double f = 120.0 + 1700.0 * std::exp(-t / 0.045);
    const double x = 0.6 * a.Saw(f * DT) + 0.4 * b.Pulse(f * 1.503 * DT, 0.5);
    const double grit = 0.7 + 0.3 * ring.Sine(90.0 * DT);
    lp.Process(x * grit + n.Next() * 0.5 * std::exp(-t / 0.01), f * 3.0 + 400.0, 1.8, SR);
    const double env = std::min(1.0, t / 0.002) * std::exp(-t / 0.085);
    return lp.low * env;
  });
}

// The ship's destruction: a deep boom, a roaring blast that darkens, a
// dying power-down whine and a few late secondary bursts.
std::vector<float> Die() {
  Osc boom, whine, whine2;
  Noise n(53), n2(59);
  Svf blast, wlp, late;
  OnePole body;
  return Render(109452, [&](double t) {
    const double fb = 32.0 + 70.0 * std::exp(-t / 0.18);
    const double b = boom.Sine(fb * DT) * std::min(1.0, t / 0.003) * std::exp(-t / 0.55);
    blast.Process(n.Next(), 180.0 + 7000.0 * std::exp(-t / 0.25), 0.9, SR);
    const double roar = blast.low * std::min(1.0, t / 0.004) * (0.75 * std::exp(-t / 0.5) + 0.25 * std::exp(-t / 1.3));
    const double fw = 40.0 + 700.0 * std::exp(-t / 0.55);
    wlp.Process(0.5 * whine.Saw(fw * DT) + 0.5 * whine2.Saw(fw * 1.01 * DT), fw * 4.0, 1.2, SR);
    const double w = wlp.low * Smooth01(t / 0.05) * std::exp(-t / 0.9) * 0.35;
    double bursts = 0;
    for (double at : {0.38, 0.71, 1.12, 1.6}) {
      const double u = t - at;
      if (u > 0) bursts += std::exp(-u / 0.09) * std::min(1.0, u / 0.002) * (0.55 - 0.08 * at);
    }
    late.Process(n2.Next(), 900, 0.7, SR);
    const double crack = late.low * bursts;
    const double fadeOut = 1.0 - std::max(0.0, (t - 2.1) / 0.38);
    return (0.9 * b + 0.8 * roar + w + 0.9 * body.Low(crack, 2500, SR)) * std::max(0.0, fadeOut);
  });
}

// A quick major arpeggio landing on a held bright chord.
std::vector<float> Untouched() {
  struct Voice {
    double start, note, amp;
    Osc a, b;
  };
  std::vector<Voice> voices = {{0.00, 72, 0.8, {}, {}}, {0.065, 76, 0.8, {}, {}}, {0.13, 79, 0.8, {}, {}},
                               {0.195, 84, 0.9, {}, {}}, {0.195, 76, 0.35, {}, {}}, {0.195, 79, 0.35, {}, {}}};
  Svf lp;
  Osc vib;
  return Render(20146, [&](double t) {
    double x = 0;
    const double v = 1.0 + 0.006 * vib.Sine(6.0 * DT) * std::min(1.0, std::max(0.0, (t - 0.25) / 0.1));
    for (size_t i = 0; i < voices.size(); ++i) {
      Voice& vo = voices[i];
      const double u = t - vo.start;
      if (u < 0) continue;
      const bool last = vo.start > 0.19;
      const double end = last ? 0.457 : vo.start + 0.07;
      const double env = std::min(1.0, u / 0.004) * (last ? std::exp(-u / 0.35) : std::exp(-u / 0.05)) *
                         (t < end ? 1.0 : 0.0);
      const double f = MidiHz(vo.note) * v;
      x += vo.amp * env * (0.55 * vo.a.Pulse(f * DT, 0.25) + 0.45 * vo.b.Saw(f * 1.003 * DT));
    }
    lp.Process(x, 5200, 0.9, SR);
    return lp.low;
  });
}

// The bonus count: three quick rising coin ticks, replayed while the bonus pays out.
std::vector<float> Bonus() {
  Osc a, b;
  OnePole soft;
  return Render(13453, [&](double t) {
    const double starts[] = {0.0, 0.085, 0.17};
    const double notes[] = {88, 92, 95};
    double x = 0;
    for (int i = 2; i >= 0; --i) {
      const double u = t - starts[i];
      if (u < 0) continue;
      const double f = MidiHz(notes[i]) * DT;
      const double env = std::min(1.0, u / 0.002) * std::exp(-u / (i == 2 ? 0.06 : 0.03));
      x = env * (0.3 * a.Pulse(f, 0.5) + 0.5 * b.Sine(f * 2.0));
      break;
    }
    // Rounded off, since it is replayed many times in a row.
    return soft.Low(x, 5000, SR);
  });
}

struct Effect {
  const char* name;
  std::vector<float> (*make)();
  double peakDb;  // balanced by ear against each other and the music
  int serial;
};

}  // namespace

bool WriteEffects(const std::string& dir) {
  const Effect effects[] = {
      {"snd_chaser_turn.ogg", ChaserTurn, -9.0, 0x51A70001}, {"snd_collision.ogg", Collision, -8.0, 0x51A70002},
      {"snd_die.ogg", Die, -2.0, 0x51A70003},                 {"snd_make_gap.ogg", MakeGap, -4.0, 0x51A70004},
      {"snd_pickup.ogg", Pickup, -6.0, 0x51A70005},           {"snd_draw_level.ogg", DrawLevel, -5.0, 0x51A70006},
      {"snd_untouched.ogg", Untouched, -3.0, 0x51A70007},     {"snd_bonus.ogg", Bonus, -6.0, 0x51A70008},
  };
  bool ok = true;
  for (const Effect& e : effects) {
    std::vector<float> s = e.make();
    BlockDc(s, 1, SR);
    FadeEdges(s, 0.5, 4.0);
    NormalisePeak(s, e.peakDb);
    if (!WriteOgg(dir + "/" + e.name, 1, SR, s, 0.5f, e.serial)) {
      std::fprintf(stderr, "mediagen: cannot write %s\n", e.name);
      ok = false;
    }
  }
  return ok;
}
