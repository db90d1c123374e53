#include "formats/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "formats/evrc_to_qcp.h"
#include "formats/qcp_format.h"
#include "formats/qcp_to_evrc.h"
#include "testing/files.h"

namespace vocrate::testing {
namespace {

std::FILE* TempWith(const Bytes& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) throw std::runtime_error("tmpfile failed");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

Bytes ReadAll(std::FILE* file) {
  Bytes bytes;
  std::rewind(file);
  std::uint8_t buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) != 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

}  // namespace

Bytes ReadFileBytes(const std::string& path) {
  const std::string bytes = wavrel::testing::Slurp(path);
  return Bytes(bytes.begin(), bytes.end());
}

std::string ReadFileText(const std::string& path) { return wavrel::testing::Slurp(path); }

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  wavrel::testing::WriteFile(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

Converted EvrcToQcp(const Bytes& source) {
  Converted converted;
  std::FILE* in = TempWith(source);
  std::FILE* out = TempWith({});
  converted.result = ConvertEvrcToQcp(in, out, converted.loss);
  converted.output = ReadAll(out);
  std::fclose(in);
  std::fclose(out);
  return converted;
}

Converted QcpToEvrc(const Bytes& source) {
  Converted converted;
  std::FILE* in = TempWith(source);
  std::FILE* out = TempWith({});
  converted.result = ConvertQcpToEvrc(
      in, out, converted.loss, [&converted](long position) { converted.position = position; });
  converted.output = ReadAll(out);
  std::fclose(in);
  std::fclose(out);
  return converted;
}

Bytes Record(std::uint16_t rate, std::vector<std::uint16_t> words) {
  Bytes record(evrc::kRecordBytes, 0);
  record[0] = static_cast<std::uint8_t>(rate);
  record[1] = static_cast<std::uint8_t>(rate >> 8);
  for (std::size_t i = 0; i < words.size() && i + 1 < evrc::kRecordWords; ++i) {
    record[2 + 2 * i] = static_cast<std::uint8_t>(words[i]);
    record[3 + 2 * i] = static_cast<std::uint8_t>(words[i] >> 8);
  }
  return record;
}

Bytes QcpBody(const Bytes& packets) {
  Bytes file(qcp::kHeaderSize + packets.size(), 0);
  for (std::size_t i = 0; i < packets.size(); ++i) file[qcp::kHeaderSize + i] = packets[i];
  return file;
}

}  // namespace vocrate::testing
