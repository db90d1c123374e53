// What making WAVs durable costs: N files of SIZE bytes written as the WAV
// writer writes them (a locked hidden temporary, renamed into place without
// replacing anything), without syncs, with the file synced before its rename
// and the folder after each rename, and with the folder synced once per
// BATCH renames; THREADS writers at once (as --jobs runs them: a journal
// commits the syncs that meet in one go). Built and run by bench/sync_bench.sh.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace {

enum class Sync { kNone, kEach, kBatched };

void Write(const std::string& folder, int first, int count, std::size_t size, Sync sync,
           int batch) {
  const std::vector<char> bytes(size, 'x');
  for (int i = 0; i < count; ++i) {
    const std::string wav = folder + "/" + std::to_string(first + i) + ".wav";
    wavrel::FileLock lock;
    std::string temp;
    std::FILE* file = wavrel::CreateLockedTemporaryBeside(wav, &temp, &lock);
    if (file == nullptr || std::fwrite(bytes.data(), 1, size, file) != size) std::exit(1);
    if (sync != Sync::kNone && !wavrel::SyncFile(file, nullptr)) std::exit(1);
    if (std::fclose(file) != 0) std::exit(1);
    if (wavrel::RenameNoReplace(temp, wav, nullptr) != wavrel::RenameResult::kRenamed) std::exit(1);
    const bool folderNow = sync == Sync::kEach || (sync == Sync::kBatched && (i + 1) % batch == 0);
    if (folderNow && !wavrel::SyncFolder(folder, nullptr)) std::exit(1);
  }
  if (sync == Sync::kBatched && count % batch != 0) wavrel::SyncFolder(folder, nullptr);
}

double Run(const std::string& folder, int count, std::size_t size, Sync sync, int batch,
           int threads) {
  const auto begin = std::chrono::steady_clock::now();
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back(Write, folder, t * (count / threads), count / threads, size, sync, batch);
  }
  for (std::thread& writer : writers) writer.join();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: sync_bench FOLDER COUNT SIZE BATCH THREADS\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const std::size_t size = std::strtoull(argv[3], nullptr, 10);
  const int batch = std::atoi(argv[4]);
  const int threads = std::atoi(argv[5]);
  if (count < 1 || batch < 1 || threads < 1) return 2;
  const struct {
    const char* name;
    Sync sync;
  } modes[] = {{"no sync", Sync::kNone},
               {"file + folder each", Sync::kEach},
               {"file each, folder per batch", Sync::kBatched}};
  int round = 0;
  for (const auto& mode : modes) {
    const std::string sub = folder + "/" + std::to_string(round++);
    if (!wavrel::MakeFolders(sub, nullptr)) return 1;
    const double ms = Run(sub, count, size, mode.sync, batch, threads);
    std::printf("%-28s %8.1f ms  %7.3f ms/file\n", mode.name, ms, ms / count);
    wavrel::RemoveFolderTree(sub);
  }
  return 0;
}
