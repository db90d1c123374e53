// The two conversions of vocrate run in memory, with the loss record that
// the program appends to loss_stat.txt, and the checks both targets share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/evrc_to_qcp.h"
#include "formats/loss_stat.h"
#include "formats/qcp_format.h"
#include "formats/qcp_to_evrc.h"
#include "formats/qcp_writer.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/memory_file.h"

namespace wavrel::fuzz {

/// Passes every report on to the loss record and keeps the positions.
class TeeLoss final : public vocrate::LossSink {
 public:
  explicit TeeLoss(vocrate::LossStatFile& file) : m_file(file) {}
  void Lost(std::uint32_t position) override {
    positions.push_back(position);
    m_file.Lost(position);
  }
  void Summary(std::uint32_t frames, std::uint32_t lost) override {
    ++summaries;
    m_file.Summary(frames, lost);
  }
  std::vector<std::uint32_t> positions;
  int summaries = 0;

 private:
  vocrate::LossStatFile& m_file;
};

struct Conversion {
  std::string output;
  vocrate::ConversionResult result;
  std::vector<std::uint32_t> positions;
};

inline constexpr char kSourceName[] = "in.bin";

/// One conversion as vocrate runs it; checks the loss record it leaves.
template <typename Convert>
Conversion RunConversion(const std::string& source, Convert convert) {
  InputFile in(reinterpret_cast<const std::uint8_t*>(source.data()), source.size());
  OutputFile out;
  OutputFile lossText;
  Conversion c;
  {
    vocrate::LossStatFile lossFile(lossText.get());
    lossFile.Header(kSourceName);
    TeeLoss loss(lossFile);
    c.result = convert(in.get(), out.get(), loss);
    FUZZ_CHECK(lossFile.Flush());
    FUZZ_CHECK(loss.summaries == 1);
    c.positions = std::move(loss.positions);
  }
  c.output = out.Bytes();
  FUZZ_CHECK(!c.result.read_failed && !c.result.write_failed);
  FUZZ_CHECK(c.positions.size() == c.result.lost);
  for (std::size_t i = 0; i < c.positions.size(); ++i) {
    FUZZ_CHECK(c.positions[i] < c.result.frames);
    FUZZ_CHECK(i == 0 || c.positions[i - 1] < c.positions[i]);
  }
  std::string expected = vocrate::FormatLossHeader(kSourceName);
  for (std::uint32_t p : c.positions) expected += vocrate::FormatLossPosition(p);
  expected += vocrate::FormatLossSummary(c.result.frames, c.result.lost);
  FUZZ_CHECK(lossText.Bytes() == expected);
  return c;
}

inline Conversion QcpToEvrc(const std::string& qcp) {
  return RunConversion(qcp, [](std::FILE* in, std::FILE* out, vocrate::LossSink& loss) {
    return vocrate::ConvertQcpToEvrc(in, out, loss);
  });
}

inline Conversion EvrcToQcp(const std::string& records) {
  return RunConversion(records, [](std::FILE* in, std::FILE* out, vocrate::LossSink& loss) {
    return vocrate::ConvertEvrcToQcp(in, out, loss);
  });
}

/// What a record becomes after a trip through a QCP packet and back, written
/// out from the byte rule itself (data byte 2k is the high byte of word k+1,
/// 2k+1 its low byte; an odd last byte is a high byte): the rate word, the
/// rate's data bytes in their places, zeros elsewhere; a record of no known
/// rate comes back as the erasure record.
inline std::string RecordAfterTrip(const std::string& record) {
  std::string back(evrc::kRecordBytes, '\0');
  const unsigned rate = static_cast<std::uint8_t>(record[0]) |
                        static_cast<unsigned>(static_cast<std::uint8_t>(record[1])) << 8;
  const std::size_t n = rate <= 0xFF ? qcp::DataBytesForRate(rate) : 0;
  if (n == 0) {
    back[0] = qcp::kRateEighth;
    back[2] = back[3] = static_cast<char>(qcp::kErasureByte);
    return back;
  }
  back[0] = static_cast<char>(rate);
  for (std::size_t i = 0; i < n; ++i) {
    // Data byte i sits at word i/2 + 1: high byte (offset +1) for even i.
    const std::size_t at = 2 + (i & ~std::size_t{1}) + (i % 2 == 0 ? 1 : 0);
    back[at] = record[at];
  }
  return back;
}

inline bool IsLostRecord(const std::string& record) {
  const std::string back = RecordAfterTrip(record);
  return back[0] == qcp::kRateEighth && static_cast<std::uint8_t>(back[2]) == qcp::kErasureByte &&
         static_cast<std::uint8_t>(back[3]) == qcp::kErasureByte;
}

/// Converts whole records to QCP and back, and checks what comes back:
/// every record as RecordAfterTrip gives it, the QCP file vocrate's own
/// shape, the lost frames the same.
inline void CheckRecordsTrip(const std::string& records) {
  const Conversion qcp = EvrcToQcp(records);
  const std::size_t count = records.size() / evrc::kRecordBytes;
  FUZZ_CHECK(qcp.result.frames == count);
  std::size_t lost = 0, dataBytes = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string record = records.substr(k * evrc::kRecordBytes, evrc::kRecordBytes);
    const std::string back = RecordAfterTrip(record);
    lost += IsLostRecord(record);
    dataBytes += 1 + qcp::DataBytesForRate(static_cast<std::uint8_t>(back[0]));
  }
  FUZZ_CHECK(qcp.result.lost == lost);
  const bool pad = dataBytes % 2 == 1;
  FUZZ_CHECK(qcp.output.size() == qcp::kHeaderSize + dataBytes + pad);
  const auto header = vocrate::BuildQcpHeader(static_cast<std::uint32_t>(dataBytes),
                                              static_cast<std::uint32_t>(count));
  FUZZ_CHECK(qcp.output.compare(0, header.size(), std::string(header.begin(), header.end())) == 0);

  const Conversion evrc = QcpToEvrc(qcp.output);
  FUZZ_CHECK(evrc.result.frames == count + pad);  // the pad byte counts as a frame
  FUZZ_CHECK(evrc.result.lost == lost);
  FUZZ_CHECK(evrc.output.size() == count * evrc::kRecordBytes);
  for (std::size_t k = 0; k < count; ++k) {
    const std::string record = records.substr(k * evrc::kRecordBytes, evrc::kRecordBytes);
    FUZZ_CHECK(evrc.output.compare(k * evrc::kRecordBytes, evrc::kRecordBytes,
                                   RecordAfterTrip(record)) == 0);
  }
}

}  // namespace wavrel::fuzz
