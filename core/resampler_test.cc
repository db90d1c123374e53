#include "core/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace wavrel {
namespace {

std::vector<std::int16_t> Sine(double hz, double amplitude, std::size_t count, double rate) {
  std::vector<std::int16_t> s(count);
  for (std::size_t i = 0; i < count; ++i) {
    s[i] = static_cast<std::int16_t>(
        std::lrint(32767 * amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
  }
  return s;
}

/// All of `in` through a resampler in blocks of random sizes up to maxBlock.
std::vector<std::int16_t> Resample(const std::vector<std::int16_t>& in, std::uint32_t rate,
                                   std::size_t maxBlock = 4096, unsigned seed = 1) {
  Resampler r;
  std::string err;
  EXPECT_TRUE(r.Open(rate, &err)) << err;
  std::mt19937 rng(seed);
  std::vector<std::int16_t> out;
  for (std::size_t at = 0; at < in.size();) {
    const std::size_t n = std::min<std::size_t>(in.size() - at, rng() % maxBlock + 1);
    EXPECT_TRUE(r.Process(in.data() + at, n, &out, &err)) << err;
    at += n;
  }
  EXPECT_TRUE(r.Finish(&out, &err)) << err;
  return out;
}

/// Signal to noise ratio in dB of `got` against a sine of the given
/// frequency and amplitude at `rate`, leaving out 0.1 s at either end.
double SnrDb(const std::vector<std::int16_t>& got, double hz, double amplitude, double rate) {
  double signal = 0, noise = 0;
  const std::size_t edge = static_cast<std::size_t>(rate / 10);
  for (std::size_t i = edge; i + edge < got.size(); ++i) {
    const double want = 32767 * amplitude * std::sin(2 * std::numbers::pi * hz * i / rate);
    signal += want * want;
    noise += (got[i] - want) * (got[i] - want);
  }
  return 10 * std::log10(signal / noise);
}

/// Level in dB relative to full scale of the component at `hz` (Goertzel).
double LevelDb(const std::vector<std::int16_t>& s, double hz, double rate) {
  const double w = 2 * std::numbers::pi * hz / rate;
  double re = 0, im = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    // A Hann window keeps the strong tone from leaking into the bin looked at.
    const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (s.size() - 1));
    re += hann * s[i] * std::cos(w * i), im -= hann * s[i] * std::sin(w * i);
  }
  const double amplitude = 2 * std::hypot(re, im) / (0.5 * s.size());
  return 20 * std::log10(amplitude / 32767 + 1e-30);
}

TEST(ResamplerTest, At8000TheSamplesPassThroughBitForBit) {
  std::mt19937 rng(3);
  std::vector<std::int16_t> noise(100000);
  for (auto& s : noise) s = static_cast<std::int16_t>(rng());
  Resampler r;
  std::string err;
  ASSERT_TRUE(r.Open(8000, &err));
  EXPECT_TRUE(r.PassesThrough());
  EXPECT_EQ(Resample(noise, 8000), noise);
}

TEST(ResamplerTest, TheRecordingKeepsItsLengthWhateverTheBlocks) {
  const auto in = Sine(440, 0.5, 8000 * 3 + 17, 8000);
  for (std::uint32_t rate : {1000u, 11025u, 16000u, 22050u, 44100u, 48000u, 384000u}) {
    const auto a = Resample(in, rate, 4096, 1);
    EXPECT_EQ(a.size(), ResampledLength(in.size(), rate)) << rate;
    EXPECT_EQ(Resample(in, rate, 100, 2), a) << rate << ": the block sizes changed the output";
  }
  EXPECT_EQ(ResampledLength(3, 11025), 4u);  // 4.134: rounded
  EXPECT_EQ(Resample({}, 44100).size(), 0u);
}

TEST(ResamplerTest, ASineKeepsFrequencyAmplitudeAndTimeWithoutAliases) {
  // 1 kHz at half scale, against the exact sine at the new rate: a wrong
  // ratio, a delay or a gain error each shows as noise.
  const auto tone = Sine(1000, 0.5, 8000 * 2, 8000);
  for (std::uint32_t rate : {11025u, 16000u, 44100u, 48000u}) {
    EXPECT_GT(SnrDb(Resample(tone, rate), 1000, 0.5, rate), 85) << rate;
  }
  // Upsampling 3.5 kHz to 16 kHz: its image at 4.5 kHz is filtered away.
  const auto high = Resample(Sine(3500, 0.9, 8000 * 2, 8000), 16000);
  EXPECT_NEAR(LevelDb(high, 3500, 16000), 20 * std::log10(0.9), 0.1);
  EXPECT_LT(LevelDb(high, 4500, 16000), -100);
  // Downsampling to 4 kHz: 3 kHz would fold to 1 kHz; it is removed instead.
  const auto down = Resample(Sine(3000, 0.9, 8000 * 2, 8000), 4000);
  EXPECT_LT(LevelDb(down, 1000, 4000), -100);
}

TEST(ResamplerTest, AbsurdRatesAreRefused) {
  for (std::uint32_t rate : {0u, 999u, 384001u, 4000000000u}) {
    Resampler r;
    std::string err;
    EXPECT_FALSE(r.Open(rate, &err)) << rate;
    EXPECT_NE(err.find(std::to_string(rate)), std::string::npos) << err;
  }
  EXPECT_TRUE(IsSupportedOutputRate(1000) && IsSupportedOutputRate(384000));
}

}  // namespace
}  // namespace wavrel
