#include "plugin/frame/host_services.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "base/dynamic_library.h"
#include "base/module_path.h"
#include "plugin/frame/message_box_record.h"
#include "plugin/platform/code_page.h"

namespace wavrel {

namespace {

constexpr std::int32_t kNoBoxShown = kMbResultCancel;
constexpr char16_t kPluginSection[] = u"WavrelPlugin";

std::atomic<IPluginHost*> g_host{nullptr};

// The host directory, filled by the first successful GetHostDirectory. A
// failure leaves it empty so that the next call tries again.
std::mutex g_hostDirectoryMutex;
std::u16string g_hostDirectory;

void WriteField(std::vector<unsigned char>& record, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < sizeof(value); ++i) {
    record[offset + i] = static_cast<unsigned char>(value >> (8 * i));  // little-endian
  }
}

// Copies text with its terminating zero into the caption field; a text too
// long for the field is cut to 259 units so that the zero still fits.
void WriteCaption(std::vector<unsigned char>& record, std::size_t index, const char16_t* text) {
  const std::size_t length =
      std::min(std::char_traits<char16_t>::length(text), kTextFieldUnits - 1);
  unsigned char* field = record.data() + CaptionOffset(index);
  std::memcpy(field, text, length * sizeof(char16_t));
  std::memset(field + length * sizeof(char16_t), 0, sizeof(char16_t));
}

// Fills the button captions of record from the host's localisation service,
// section "Torvex". Leaves them empty when the host has no such service.
void FillCaptions(IPluginHost* host, std::vector<unsigned char>& record) {
  IBaseInterface* object = nullptr;
  try {
    if (!host->QueryService(kLocaleServiceGuid, kLocaleServiceRequestCode, &object)) return;
  } catch (...) {
    return;
  }
  if (object == nullptr) return;
  // A service of the wrong type would be called through slots it does not
  // have: check the type, and give back what the host handed out either way.
  auto* service = dynamic_cast<ILocaleMgrService*>(object);
  if (service != nullptr) {
    for (const CaptionKey& caption : kCaptionKeys) {
      try {
        const char16_t* text = service->GetString(caption.key, kCaptionSection, 0);
        if (text != nullptr) WriteCaption(record, caption.index, text);
      } catch (...) {
        // This caption stays empty.
      }
    }
  }
  try {
    object->Release();
  } catch (...) {
  }
}

}  // namespace

IPluginHost* GetHostPointer() { return g_host.load(std::memory_order_acquire); }

void SetHostPointer(IPluginHost* host) { g_host.store(host, std::memory_order_release); }

ILocaleMgrService* GetLocaleService(const char* serviceGuid, std::int32_t requestCode,
                                    IPluginHost* host) {
  if (serviceGuid == nullptr || host == nullptr) return nullptr;
  try {
    IBaseInterface* object = nullptr;
    host->QueryService(serviceGuid, requestCode, &object);  // only the pointer counts
    if (object == nullptr) return nullptr;
    auto* service = dynamic_cast<ILocaleMgrService*>(object);
    // The caller Releases only what it gets back: an object of another type
    // is given back here rather than kept for ever.
    if (service == nullptr) object->Release();
    return service;
  } catch (...) {
    return nullptr;
  }
}

std::u16string GetHostStartFolder(IPluginHost* host) {
  if (host == nullptr) return {};
  try {
    IBaseInterface* object = nullptr;
    host->QueryService(kStartFolderServiceGuid, kStartFolderServiceRequestCode, &object);
    if (object == nullptr) return {};
    std::u16string folder;
    if (auto* service = dynamic_cast<IStartFolderService*>(object)) {
      const char16_t* text = service->GetStartFolder();
      if (text != nullptr) folder = text;
    }
    object->Release();
    return folder;
  } catch (...) {
    return {};
  }
}

std::u16string LoadHostString(const std::u16string& key, const std::u16string& section,
                              IPluginHost* host, std::int32_t flags) {
  if (host == nullptr) return {};
  try {
    ILocaleMgrService* service =
        GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, host);
    if (service == nullptr) return {};
    const char16_t* text = nullptr;
    try {
      text = service->GetString(key.c_str(), section.c_str(), flags);
    } catch (...) {
      text = nullptr;
    }
    try {
      service->Release();
    } catch (...) {
    }
    // The text belongs to the host and stays valid after the Release.
    if (text == nullptr) return {};
    return std::u16string(text);
  } catch (...) {
    return {};
  }
}

std::u16string GetPluginText(const std::u16string& key) {
  try {
    return LoadHostString(key, kPluginSection, GetHostPointer(), 0);
  } catch (...) {
    return {};
  }
}

std::int32_t ShowHostMessageBox(IPluginHost* host, const std::u16string& text,
                                const std::u16string& caption, std::uint32_t style) {
  try {
    const std::optional<std::string> executable = ExecutablePath();
    if (!executable) return kNoBoxShown;
    const std::size_t slash = executable->rfind('/');
    if (slash == std::string::npos) return kNoBoxShown;
    // Only the host executable's folder: never the plug-in's, never a search.
    return ShowMessageBoxFrom(executable->substr(0, slash + 1), host, text, caption, style);
  } catch (...) {
    return kNoBoxShown;
  }
}

std::int32_t ShowMessageBoxFrom(const std::string& folder, IPluginHost* host,
                                const std::u16string& text, const std::u16string& caption,
                                std::uint32_t style) {
  try {
    if (folder.empty() || folder.back() != '/') return kNoBoxShown;
    std::vector<unsigned char> record;
    if (host != nullptr) {
      record.assign(kMessageBoxRecordSize, 0);
      WriteField(record, kFlagOffset, kFlagValue);
      FillCaptions(host, record);
    }

    const std::string path = folder + kMessageBoxLibraryName;

    DynamicLibrary library;
    if (!library.Open(path, nullptr)) return kNoBoxShown;
    auto* show = reinterpret_cast<XMessageBoxFn>(library.Symbol(kMessageBoxExportName, nullptr));
    if (show == nullptr) return kNoBoxShown;
    const std::int32_t result = show(nullptr, text.c_str(), caption.c_str(), style,
                                     record.empty() ? nullptr : record.data());
    library.Close();
    return result;
  } catch (...) {
    return kNoBoxShown;
  }
}

std::u16string GetHostDirectory() {
  try {
    std::lock_guard lock(g_hostDirectoryMutex);
    if (g_hostDirectory.empty()) {
      const std::optional<std::u16string> executable = ExecutablePathUtf16();
      if (!executable) return {};
      g_hostDirectory = DirectoryOf(*executable);
    }
    return g_hostDirectory;
  } catch (...) {
    return {};
  }
}

std::u16string GetPluginDirectory(const char16_t* name) {
  try {
    std::u16string directory = GetHostDirectory();
    if (directory.empty()) return {};
    directory += u"Plugins/";
    if (name != nullptr && *name != u'\0') {
      directory += name;
      directory += u'/';
    }
    return directory;
  } catch (...) {
    return {};
  }
}

}  // namespace wavrel
