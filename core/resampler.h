// Resampling of a decoded recording (16-bit mono at 8000 Hz) to the sample
// rate the settings ask for, so that the WAV has the rate its header says
// and the recording's own length. Streaming: blocks in, blocks out, a
// Finish at the end, so a long recording is never held in memory.
//
// The filter is libsoxr's "high quality" recipe (20-bit precision, linear
// phase, passband to 91.3% of the lower Nyquist frequency, stopband from
// it): its aliasing and imaging lie far below the 16-bit noise floor of the
// samples, at a cost of a few milliseconds per recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct soxr;

namespace wavrel {

/// Rate of the decoders' samples.
inline constexpr std::uint32_t kResamplerInputRate = 8000;
/// Output rates taken: from a rate that keeps 500 Hz of speech to the highest
/// rate audio hardware and tools commonly take. Others are refused, not
/// clamped: a setting of 16 (meant as 16000?) or 1600000 is a mistake to be
/// told, not a WAV at a rate nobody asked for.
inline constexpr std::uint32_t kMinResamplerOutputRate = 1000;
inline constexpr std::uint32_t kMaxResamplerOutputRate = 384000;

constexpr bool IsSupportedOutputRate(std::int64_t rate) {
  return rate >= kMinResamplerOutputRate && rate <= kMaxResamplerOutputRate;
}

/// Samples out for `inputSamples` samples in: round(inputSamples * outputRate
/// / 8000), halves rounded up.
constexpr std::uint64_t ResampledLength(std::uint64_t inputSamples, std::uint32_t outputRate) {
  return (inputSamples * outputRate + kResamplerInputRate / 2) / kResamplerInputRate;
}

/// One recording's resampling. Not thread-safe; memory bounded by the block
/// sizes given, whatever the recording's length.
class Resampler {
 public:
  Resampler() = default;
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  /// Sets the output rate. At 8000 no filter is made: the samples pass
  /// through unchanged, bit for bit. False with a reason in *err for a rate
  /// outside [kMinResamplerOutputRate, kMaxResamplerOutputRate], or when the
  /// library cannot set up the filter.
  bool Open(std::uint32_t outputRate, std::string* err);

  /// Takes `count` input samples (native byte order) and appends to *out the
  /// output samples that are ready; some are held back until later blocks or
  /// Finish. False with a reason in *err when the library fails.
  bool Process(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>* out,
               std::string* err);

  /// After the last block: appends the rest, so that all the blocks' output
  /// together is exactly ResampledLength(all input, outputRate) samples.
  bool Finish(std::vector<std::int16_t>* out, std::string* err);

  bool PassesThrough() const { return m_soxr == nullptr; }
  std::uint32_t OutputRate() const { return m_rate; }

 private:
  /// Appends what the library gives for in[0..count) (null: the end) to *out.
  bool Run(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>* out,
           std::string* err);

  soxr* m_soxr = nullptr;
  std::uint32_t m_rate = kResamplerInputRate;
  std::uint64_t m_in = 0;            ///< input samples taken
  std::uint64_t m_out = 0;           ///< output samples handed out
  std::vector<std::int16_t> m_held;  ///< output the input so far does not yet account for
};

}  // namespace wavrel
