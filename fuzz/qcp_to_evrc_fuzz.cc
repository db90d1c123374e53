// vocrate's QCP to raw EVRC conversion over any file, with its loss record;
// what comes out converts to QCP and back unchanged.
#include "fuzz/converter_fuzz.h"

WAVREL_FUZZ_TARGET(qcp_to_evrc)(const std::uint8_t* data, std::size_t size) {
  using namespace wavrel::fuzz;
  const Conversion evrc = QcpToEvrc(std::string(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(evrc.output.size() % evrc::kRecordBytes == 0);
  const std::size_t records = evrc.output.size() / evrc::kRecordBytes;
  FUZZ_CHECK(records <= evrc.result.frames && evrc.result.frames <= size);
  for (std::size_t k = 0; k < records; ++k) {
    FUZZ_CHECK(evrc.output[k * evrc::kRecordBytes + 1] == 0);  // a rate octet is one byte
  }
  CheckRecordsTrip(evrc.output);
  return 0;
}
