// A file's identity (device and inode: hard links share it) and its
// modification time, as the file layer reads it and the engine compares it.
#pragma once

namespace wavrel {

struct FileStamp {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  long long modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  bool SameFile(const FileStamp& other) const {
    return device == other.device && inode == other.inode;
  }
};

}  // namespace wavrel
