#pragma once
// Building blocks of the synthesiser: band-limited oscillators, envelopes,
// filters, noise, delay and reverb. Everything is deterministic.
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

constexpr double TAU = 2.0 * std::numbers::pi;

inline double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
inline double DbGain(double db) { return std::pow(10.0, db / 20.0); }

// Band-limited step correction for saw and pulse waves.
inline double PolyBlep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

// One oscillator with its own phase (0..1); Step advances by hz / rate.
struct Osc {
  double phase = 0;
  double Saw(double dt) {
    const double v = 2.0 * phase - 1.0 - PolyBlep(phase, dt);
    Advance(dt);
    return v;
  }
  double Pulse(double dt, double width) {
    double v = phase < width ? 1.0 : -1.0;
    v += PolyBlep(phase, dt);
    double t2 = phase - width;
    if (t2 < 0) t2 += 1.0;
    v -= PolyBlep(t2, dt);
    v -= 2.0 * width - 1.0;  // no DC offset for narrow pulses
    Advance(dt);
    return v;
  }
  double Sine(double dt) {
    const double v = std::sin(TAU * phase);
    Advance(dt);
    return v;
  }
  double Tri(double dt) {
    const double v = 1.0 - 4.0 * std::abs(phase - 0.5);
    Advance(dt);
    return v;
  }
  void Advance(double dt) {
    phase += dt;
    phase -= std::floor(phase);
  }
};

// White noise from a fixed seed.
struct Noise {
  uint64_t s;
  explicit Noise(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  double Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<double>(s >> 11) / 4503599627370496.0 - 1.0;  // -1..1
  }
};

// Zero-delay-feedback state-variable filter (low, band and high pass at once).
struct Svf {
  double ic1 = 0, ic2 = 0;
  double low = 0, band = 0, high = 0;
  void Process(double x, double cutoff, double q, double rate) {
    cutoff = std::fmin(cutoff, rate * 0.45);
    const double g = std::tan(std::numbers::pi * cutoff / rate);
    const double k = 1.0 / q;
    const double a1 = 1.0 / (1.0 + g * (g + k));
    const double a2 = g * a1, a3 = g * a2;
    const double v3 = x - ic2;
    const double v1 = a1 * ic1 + a2 * v3;
    const double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2 * v1 - ic1;
    ic2 = 2 * v2 - ic2;
    low = v2;
    band = v1;
    high = x - k * v1 - v2;
  }
};

struct OnePole {
  double z = 0;
  double Low(double x, double cutoff, double rate) {
    const double a = 1.0 - std::exp(-TAU * cutoff / rate);
    z += a * (x - z);
    return z;
  }
  double High(double x, double cutoff, double rate) { return x - Low(x, cutoff, rate); }
};

// Attack-decay-sustain-release level at time t (seconds) of a note held `hold` seconds.
double Smooth01(double x);  // smoothstep on 0..1

double Adsr(double t, double hold, double a, double d, double s, double r);

// Stereo reverb after the well-known comb-and-allpass design.
class Reverb {
 public:
  Reverb(int rate, double roomSize, double damping);
  void Process(double in, double& outL, double& outR);

 private:
  struct Comb {
    std::vector<double> buf;
    size_t pos = 0;
    double store = 0;
  };
  struct Allpass {
    std::vector<double> buf;
    size_t pos = 0;
  };
  std::vector<Comb> combL_, combR_;
  std::vector<Allpass> apL_, apR_;
  double feedback_, damp_;
};

// Ping-pong delay with a low-passed feedback path.
class PingPong {
 public:
  PingPong(int rate, double seconds, double feedback, double tone);
  void Process(double inL, double inR, double& outL, double& outR);

 private:
  std::vector<double> l_, r_;
  size_t pos_ = 0;
  double feedback_, tone_;
  OnePole lpL_, lpR_;
  int rate_;
};

// Peak and RMS of a signal in dBFS.
struct Levels {
  double peakDb, rmsDb;
};
Levels Measure(const std::vector<float>& s);

// Scales a signal so that its peak sits at `peakDb`.
void NormalisePeak(std::vector<float>& s, double peakDb);

// Removes any DC offset with a gentle high-pass (interleaved, `channels` wide).
void BlockDc(std::vector<float>& s, int channels, int rate);
