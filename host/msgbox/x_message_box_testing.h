// Test helpers: the library loaded as the plug-in loads it, and records with
// captions.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/message_box_record.h"

namespace wavrel::msgbox::testing {

inline XMessageBoxFn LoadXMessageBox() {
  static void* library = dlopen(WAVREL_XMESSAGEBOX_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    ADD_FAILURE() << "cannot load " << WAVREL_XMESSAGEBOX_PATH << ": " << dlerror();
    return nullptr;
  }
  return reinterpret_cast<XMessageBoxFn>(dlsym(library, kMessageBoxExportName));
}

/// A record as the plug-in makes it, with the given captions.
inline std::vector<unsigned char> MakeRecord(const std::u16string& ok,
                                             const std::u16string& cancel) {
  std::vector<unsigned char> record(kMessageBoxRecordSize, 0);
  std::memcpy(record.data() + kFlagOffset, &kFlagValue, sizeof(kFlagValue));
  std::memcpy(record.data() + kCaptionOffsetOk, ok.data(), ok.size() * sizeof(char16_t));
  std::memcpy(record.data() + kCaptionOffsetCancel, cancel.data(),
              cancel.size() * sizeof(char16_t));
  return record;
}

}  // namespace wavrel::msgbox::testing
