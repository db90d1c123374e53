// vocrate's raw EVRC to QCP conversion over any file, with its loss record;
// the QCP file converts back to the records it was made from.
#include "fuzz/converter_fuzz.h"

WAVREL_FUZZ_TARGET(evrc_to_qcp)(const std::uint8_t* data, std::size_t size) {
  wavrel::fuzz::CheckRecordsTrip(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
