#include "synth.h"

#include <algorithm>

double Smooth01(double x) {
  x = std::clamp(x, 0.0, 1.0);
  return x * x * (3 - 2 * x);
}

double Adsr(double t, double hold, double a, double d, double s, double r) {
  if (t < 0) return 0;
  auto held = [&](double u) {
    if (u < a) return u / a;
    if (u < a + d) return 1.0 - (1.0 - s) * (u - a) / d;
    return s;
  };
  if (t < hold) return held(t);
  const double atRelease = held(hold);
  const double u = t - hold;
  if (u >= r) return 0;
  return atRelease * (1.0 - u / r);
}

Reverb::Reverb(int rate, double roomSize, double damping) : feedback_(roomSize), damp_(damping) {
  static const int combs[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
  static const int allpasses[] = {556, 441, 341, 225};
  const double scale = rate / 44100.0;
  const int spread = 23;
  for (int c : combs) {
    combL_.push_back({std::vector<double>(static_cast<size_t>(c * scale), 0.0)});
    combR_.push_back({std::vector<double>(static_cast<size_t>((c + spread) * scale), 0.0)});
  }
  for (int a : allpasses) {
    apL_.push_back({std::vector<double>(static_cast<size_t>(a * scale), 0.0)});
    apR_.push_back({std::vector<double>(static_cast<size_t>((a + spread) * scale), 0.0)});
  }
}

void Reverb::Process(double in, double& outL, double& outR) {
  auto run = [&](std::vector<Comb>& combs, std::vector<Allpass>& aps) {
    double out = 0;
    for (Comb& c : combs) {
      const double y = c.buf[c.pos];
      c.store = y * (1.0 - damp_) + c.store * damp_;
      c.buf[c.pos] = in + c.store * feedback_;
      if (++c.pos >= c.buf.size()) c.pos = 0;
      out += y;
    }
    for (Allpass& a : aps) {
      const double b = a.buf[a.pos];
      a.buf[a.pos] = out + b * 0.5;
      out = b - out;
      if (++a.pos >= a.buf.size()) a.pos = 0;
    }
    return out;
  };
  outL = run(combL_, apL_) * 0.12;
  outR = run(combR_, apR_) * 0.12;
}

PingPong::PingPong(int rate, double seconds, double feedback, double tone)
    : l_(static_cast<size_t>(seconds * rate), 0.0),
      r_(static_cast<size_t>(seconds * rate), 0.0),
      feedback_(feedback),
      tone_(tone),
      rate_(rate) {}

void PingPong::Process(double inL, double inR, double& outL, double& outR) {
  outL = l_[pos_];
  outR = r_[pos_];
  // Cross-feed: what comes out left goes back in right, and the other way round.
  l_[pos_] = inL + lpR_.Low(outR, tone_, rate_) * feedback_;
  r_[pos_] = inR + lpL_.Low(outL, tone_, rate_) * feedback_;
  if (++pos_ >= l_.size()) pos_ = 0;
}

Levels Measure(const std::vector<float>& s) {
  double peak = 0, sum = 0;
  for (float v : s) {
    peak = std::max(peak, static_cast<double>(std::abs(v)));
    sum += static_cast<double>(v) * v;
  }
  const double rms = s.empty() ? 0 : std::sqrt(sum / s.size());
  return {20.0 * std::log10(std::max(peak, 1e-9)), 20.0 * std::log10(std::max(rms, 1e-9))};
}

void NormalisePeak(std::vector<float>& s, double peakDb) {
  double peak = 0;
  for (float v : s) peak = std::max(peak, static_cast<double>(std::abs(v)));
  if (peak <= 0) return;
  const double g = DbGain(peakDb) / peak;
  for (float& v : s) v = static_cast<float>(v * g);
}

void BlockDc(std::vector<float>& s, int channels, int rate) {
  for (int c = 0; c < channels; ++c) {
    OnePole hp;
    for (size_t i = c; i < s.size(); i += channels) s[i] = static_cast<float>(hp.High(s[i], 12.0, rate));
  }
}
