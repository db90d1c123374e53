// evrc_2004's record reader and its feed into libavcodec: any bytes give one
// frame of 160 samples per whole record, and one record at a time gives the
// same frame count.
#include <cstring>

#include "fuzz/fuzz_target.h"
#include "fuzz/memory_file.h"
#include "programs/decoders/evrc_decoder.h"

WAVREL_FUZZ_TARGET(decoder)(const std::uint8_t* data, std::size_t size) {
  using namespace wavrel::fuzz;
  const std::size_t records = size / evrc::kRecordBytes;
  InputFile in(data, size);
  OutputFile out;
  evrc::DecodeStats stats;
  std::string err;
  // The first byte's low bit picks the post-filter, as -p 0|1 would.
  const evrc::DecodeOptions options{.postfilter = size == 0 || (data[0] & 1) == 0};
  FUZZ_CHECK(evrc::DecodeEvrcStream(in.get(), out.get(), options, &stats, &err));
  const std::string pcm = out.Bytes();
  FUZZ_CHECK(pcm.size() == records * evrc::kPcmBytesPerFrame);
  FUZZ_CHECK(stats.frames == records);
  FUZZ_CHECK(stats.trailing_bytes == size % evrc::kRecordBytes);
  FUZZ_CHECK(stats.erasures + stats.unknown <= stats.concealed);
  FUZZ_CHECK(stats.concealed <= records);

  // Record by record through a fresh decoder: the same PCM.
  evrc::EvrcDecoder decoder;
  FUZZ_CHECK(decoder.Open(options, &err));
  std::int16_t samples[evrc::kSamplesPerFrame + 1];
  for (std::size_t k = 0; k < records; ++k) {
    samples[evrc::kSamplesPerFrame] = 0x5A5A;  // guard: exactly 160 samples come out
    decoder.DecodeRecord(data + k * evrc::kRecordBytes, samples);
    FUZZ_CHECK(samples[evrc::kSamplesPerFrame] == 0x5A5A);
    FUZZ_CHECK(std::memcmp(samples, pcm.data() + k * evrc::kPcmBytesPerFrame,
                           evrc::kPcmBytesPerFrame) == 0);
  }
  return 0;
}
