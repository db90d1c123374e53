#include "testing/files.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wavrel::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  m_path = pattern;
}

TempFolder::~TempFolder() { RemoveAll(m_path); }

void RemoveAll(const fs::path& folder) {
  std::error_code ec;
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (!entry.is_symlink(ec)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(folder, ec);
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

void CopySamples(const fs::path& samples, const fs::path& folder,
                 const std::map<std::string, std::string>& renamed) {
  fs::create_directories(folder);
  const auto copy = [&](const fs::path& sample, const fs::path& name) {
    fs::copy_file(samples / sample, folder / name, fs::copy_options::overwrite_existing);
    fs::permissions(folder / name, fs::perms::owner_read | fs::perms::owner_write);
  };
  if (renamed.empty()) {
    for (const auto& entry : fs::directory_iterator(samples)) {
      copy(entry.path().filename(), entry.path().filename());
    }
  }
  for (const auto& [sample, name] : renamed) copy(sample, name);
}

}  // namespace wavrel::testing
