#include "core/resampler.h"

#include <soxr.h>

#include <algorithm>

namespace wavrel {

Resampler::~Resampler() {
  if (m_soxr != nullptr) soxr_delete(m_soxr);
}

bool Resampler::Open(std::uint32_t outputRate, std::string* err) {
  if (!IsSupportedOutputRate(outputRate)) {
    *err = "the sample rate " + std::to_string(outputRate) + " Hz is outside " +
           std::to_string(kMinResamplerOutputRate) + " to " +
           std::to_string(kMaxResamplerOutputRate) + " Hz";
    return false;
  }
  if (m_soxr != nullptr) soxr_delete(m_soxr), m_soxr = nullptr;
  m_rate = outputRate;
  m_in = m_out = 0;
  m_held.clear();
  if (outputRate == kResamplerInputRate) return true;

  // 16-bit in and out without dither: the same samples give the same WAV on
  // every run. One thread: the work per recording is small, and the
  // pipeline already runs recordings side by side.
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  m_soxr = soxr_create(kResamplerInputRate, outputRate, 1, &error, &io, &quality, &runtime);
  if (m_soxr == nullptr || error != nullptr) {
    *err = std::string("cannot set up the resampler: ") + (error != nullptr ? error : "no memory");
    if (m_soxr != nullptr) soxr_delete(m_soxr), m_soxr = nullptr;
    return false;
  }
  return true;
}

bool Resampler::Run(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>* out,
                    std::string* err) {
  // Room for this block's share and the filter's pending samples; the loop
  // goes on until the library has taken every input sample (or, at the end,
  // has nothing more to give).
  const std::size_t room = static_cast<std::size_t>(ResampledLength(count, m_rate)) + 1024;
  std::size_t taken = 0;
  for (;;) {
    const std::size_t before = out->size();
    out->resize(before + room);
    std::size_t used = 0, made = 0;
    const soxr_error_t error =
        soxr_process(m_soxr, in == nullptr ? nullptr : in + taken,
                     in == nullptr ? 0 : count - taken, &used, out->data() + before, room, &made);
    out->resize(before + made);
    if (error != nullptr) {
      *err = std::string("the resampler failed: ") + error;
      return false;
    }
    taken += used;
    if (in == nullptr ? made == 0 : taken == count && made < room) return true;
    if (used == 0 && made == 0) {  // no progress: never spin
      *err = "the resampler took no input";
      return false;
    }
  }
}

bool Resampler::Process(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>* out,
                        std::string* err) {
  m_in += count;
  if (m_soxr == nullptr) {
    out->insert(out->end(), in, in + count);
    m_out += count;
    return true;
  }
  // What the library gives goes out only as far as the input so far
  // accounts for (floor of in * ratio, never past the final length); the
  // rest waits in m_held.
  std::vector<std::int16_t>& made = m_held;
  if (count != 0 && !Run(in, count, &made, err)) return false;
  const std::uint64_t allowed = m_in * m_rate / kResamplerInputRate;
  const std::size_t give =
      static_cast<std::size_t>(std::min<std::uint64_t>(made.size(), allowed - m_out));
  out->insert(out->end(), made.begin(), made.begin() + static_cast<long>(give));
  made.erase(made.begin(), made.begin() + static_cast<long>(give));
  m_out += give;
  return true;
}

bool Resampler::Finish(std::vector<std::int16_t>* out, std::string* err) {
  const std::uint64_t total = ResampledLength(m_in, m_rate);
  if (m_soxr != nullptr && !Run(nullptr, 0, &m_held, err)) return false;
  const std::size_t give =
      static_cast<std::size_t>(std::min<std::uint64_t>(m_held.size(), total - m_out));
  out->insert(out->end(), m_held.begin(), m_held.begin() + static_cast<long>(give));
  m_out += give;
  m_held.clear();
  // The filter's tail may fall a sample short of the exact length.
  if (m_out < total) out->resize(out->size() + static_cast<std::size_t>(total - m_out), 0);
  m_out = total;
  return true;
}

}  // namespace wavrel
