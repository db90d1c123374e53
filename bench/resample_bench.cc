// The resampler's quality and cost, per output rate: a 1 kHz sine's
// signal-to-noise ratio against the exact sine at the new rate, its level
// and frequency, the rejection of the image of a 3.5 kHz tone (upsampling)
// and of the alias of a 3 kHz tone (down to 4 kHz), and the time to resample
// a 25 s recording in 4096-sample blocks (median of 15 runs). Where the
// build found libswresample, the same figures for its default filter.
//
//   bash bench/resample_bench.sh [BUILD_DIR]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "core/resampler.h"

#ifdef WAVREL_BENCH_SWRESAMPLE
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}
#endif

namespace {

using Samples = std::vector<std::int16_t>;
using ResampleFunction = std::function<Samples(const Samples&, std::uint32_t)>;

constexpr double kPi = std::numbers::pi;

Samples Sine(double hz, double amplitude, std::size_t count) {
  Samples s(count);
  for (std::size_t i = 0; i < count; ++i) {
    s[i] = static_cast<std::int16_t>(
        std::lrint(32767 * amplitude * std::sin(2 * kPi * hz * i / 8000)));
  }
  return s;
}

Samples WithWavrel(const Samples& in, std::uint32_t rate) {
  wavrel::Resampler r;
  std::string err;
  Samples out, block;
  if (!r.Open(rate, &err)) std::fprintf(stderr, "%s\n", err.c_str());
  for (std::size_t at = 0; at < in.size(); at += 4096) {
    block.clear();
    r.Process(in.data() + at, std::min<std::size_t>(4096, in.size() - at), &block, &err);
    out.insert(out.end(), block.begin(), block.end());
  }
  r.Finish(&out, &err);
  return out;
}

#ifdef WAVREL_BENCH_SWRESAMPLE
Samples WithSwresample(const Samples& in, std::uint32_t rate) {
  SwrContext* swr = nullptr;
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, static_cast<int>(rate), &mono,
                      AV_SAMPLE_FMT_S16, 8000, 0, nullptr);
  swr_init(swr);
  Samples out;
  std::vector<std::int16_t> buffer(4096 * (rate / 8000 + 2) + 1024);
  const auto convert = [&](const std::int16_t* in_block, std::size_t n) {
    const auto* src = reinterpret_cast<const std::uint8_t*>(in_block);
    auto* dst = reinterpret_cast<std::uint8_t*>(buffer.data());
    const int got = swr_convert(swr, &dst, static_cast<int>(buffer.size()),
                                in_block != nullptr ? &src : nullptr, static_cast<int>(n));
    if (got > 0) out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    return got;
  };
  for (std::size_t at = 0; at < in.size(); at += 4096) {
    convert(in.data() + at, std::min<std::size_t>(4096, in.size() - at));
  }
  while (convert(nullptr, 0) > 0) {
  }
  swr_free(&swr);
  return out;
}
#endif

/// SNR in dB against the exact sine at the new rate, 0.1 s left out at
/// either end: a wrong ratio, a delay or a gain error all show as noise.
double SnrDb(const Samples& got, double hz, double amplitude, double rate) {
  double signal = 0, noise = 0;
  const std::size_t edge = static_cast<std::size_t>(rate / 10);
  for (std::size_t i = edge; i + edge < got.size(); ++i) {
    const double want = 32767 * amplitude * std::sin(2 * kPi * hz * i / rate);
    signal += want * want;
    noise += (got[i] - want) * (got[i] - want);
  }
  return 10 * std::log10(signal / noise);
}

/// Where an impulse at input sample 4000 comes out, less where it belongs
/// (4000 * rate / 8000), in output samples.
double DelaySamples(const ResampleFunction& resample, std::uint32_t rate) {
  Samples impulse(8000, 0);
  impulse[4000] = 30000;
  const Samples out = resample(impulse, rate);
  const auto peak = std::max_element(out.begin(), out.end());
  return double(peak - out.begin()) - 4000.0 * rate / 8000;
}

double LevelDb(const Samples& s, double hz, double rate) {
  const double w = 2 * kPi * hz / rate;
  double re = 0, im = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2 * kPi * i / (s.size() - 1));
    re += hann * s[i] * std::cos(w * i), im -= hann * s[i] * std::sin(w * i);
  }
  return 20 * std::log10(2 * std::hypot(re, im) / (0.5 * s.size()) / 32767 + 1e-30);
}

/// Frequency from the rising zero crossings, 0.1 s left out at either end.
double FrequencyHz(const Samples& s, double rate) {
  double first = -1, last = -1;
  int crossings = 0;
  const std::size_t edge = static_cast<std::size_t>(rate / 10);
  for (std::size_t i = edge; i + edge < s.size(); ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      const double t = (i - 1) + double(-s[i - 1]) / (s[i] - s[i - 1]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  return (crossings - 1) / ((last - first) / rate);
}

void Report(const char* name, const ResampleFunction& resample) {
  std::printf("%s\n%8s %9s %7s %9s %12s %11s %11s %10s\n", name, "rate", "SNR dB", "delay",
              "level dB", "freq Hz", "image dB", "alias dB", "ms/25 s");
  const Samples tone = Sine(1000, 0.5, 8000 * 4);
  const Samples high = Sine(3500, 0.9, 8000 * 4);
  const Samples recording = Sine(440, 0.3, 8000 * 25);
  const double alias = LevelDb(resample(Sine(3000, 0.9, 8000 * 4), 4000), 1000, 4000);
  for (std::uint32_t rate : {11025u, 16000u, 22050u, 44100u, 48000u}) {
    const Samples out = resample(tone, rate);
    const double snr = SnrDb(out, 1000, 0.5, rate);
    const double delay = DelaySamples(resample, rate);
    const double image = LevelDb(resample(high, rate), 4500, rate);
    std::vector<double> ms;
    for (int run = 0; run < 15; ++run) {
      const auto start = std::chrono::steady_clock::now();
      const Samples r = resample(recording, rate);
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      if (r.empty()) std::puts("no output");
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%8u %9.1f %7.1f %9.4f %12.5f %11.1f %11.1f %10.2f\n", rate, snr, delay,
                LevelDb(out, 1000, rate) - 20 * std::log10(0.5), FrequencyHz(out, rate), image,
                alias, ms[ms.size() / 2]);
  }
}

}  // namespace

int main() {
  Report("wavrel::Resampler (libsoxr, high quality)", WithWavrel);
#ifdef WAVREL_BENCH_SWRESAMPLE
  Report("libswresample, default filter", WithSwresample);
#endif
}
