#include "core/wav_tags.h"

#include <string_view>

namespace wavrel {
namespace {

void PutLe32(std::vector<std::uint8_t>& out, std::size_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutId(std::vector<std::uint8_t>& out, std::string_view id) {
  for (char c : id) out.push_back(static_cast<std::uint8_t>(c));
}

void PutSubchunk(std::vector<std::uint8_t>& out, const char* id, std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.size() > kMaxWavTagBytes) text = text.substr(0, kMaxWavTagBytes);
  if (text.empty()) return;
  PutId(out, id);
  PutLe32(out, text.size() + 1);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  if ((text.size() + 1) % 2 == 1) out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> BuildWavTagTrailer(std::uint64_t pcmLength, const WavTags& tags) {
  std::vector<std::uint8_t> info;
  PutSubchunk(info, "INAM", tags.title);
  PutSubchunk(info, "ICMT", tags.comment);
  std::vector<std::uint8_t> out;
  if (info.empty()) return out;
  if (pcmLength % 2 == 1) out.push_back(0);
  out.reserve(out.size() + 12 + info.size());
  PutId(out, "LIST");
  PutLe32(out, 4 + info.size());
  PutId(out, "INFO");
  out.insert(out.end(), info.begin(), info.end());
  return out;
}

}  // namespace wavrel
