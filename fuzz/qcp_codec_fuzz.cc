// Which codec a QCP file carries, over any head of a file, and vocrate's
// refusal of other codecs that builds on it: a name fit to print, the
// codec and the name agreeing, and vocrate refusing exactly the well-formed
// chunk lists whose codec is not EVRC.
#include <cstring>
#include <string>

#include "formats/qcp_chunks.h"
#include "formats/qcp_codec.h"
#include "formats/qcp_to_evrc.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/memory_file.h"

WAVREL_FUZZ_TARGET(qcp_codec)(const std::uint8_t* data, std::size_t size) {
  const qcp::CodecId id = qcp::IdentifyCodec(data, size);
  FUZZ_CHECK(!id.name.empty() && id.name.size() <= qcp::kCodecNameFieldSize);
  for (char c : id.name) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
  FUZZ_CHECK(id.name.front() != ' ' && id.name.back() != ' ');
  FUZZ_CHECK(id.name.find("  ") == std::string::npos);
  if (!qcp::IsQcpContainer(data, size)) FUZZ_CHECK(id.codec == qcp::Codec::kUnknown);
  const char* known[] = {"EVRC", "QCELP-13K", "SMV", "4GV"};
  if (id.codec < qcp::Codec::kOther) {
    FUZZ_CHECK(id.name == known[static_cast<int>(id.codec)]);
  } else {
    FUZZ_CHECK(!id.byGuid);
    // (a name field may say "unknown codec" itself)
    if (id.codec == qcp::Codec::kUnknown) FUZZ_CHECK(id.name == "unknown codec");
  }
  if (id.byGuid) {
    FUZZ_CHECK(std::memcmp(data + qcp::kCodecGuidOffset,
                           (id.codec == qcp::Codec::kEvrc         ? qcp::kEvrcCodecGuid
                            : id.codec == qcp::Codec::kSmv        ? qcp::kSmvGuid
                            : id.codec == qcp::Codec::k4gv        ? qcp::k4gvGuid
                            : data[qcp::kCodecGuidOffset] == 0x41 ? qcp::kQcelp13kGuid1
                                                                  : qcp::kQcelp13kGuid2)
                               .data(),
                           16) == 0);
  }

  wavrel::fuzz::InputFile in(data, size);
  std::string codec;
  const bool refused = vocrate::IsOtherCodec(in.get(), &codec);
  const bool wellFormed =
      qcp::LocateData(data, std::min(size, qcp::kChunkListBytes), size).wellFormed;
  FUZZ_CHECK(refused == (wellFormed && id.codec != qcp::Codec::kEvrc));
  if (refused) FUZZ_CHECK(codec == id.name);
  FUZZ_CHECK(std::ftell(in.get()) == 0);
  return 0;
}
