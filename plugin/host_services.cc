#include "plugin/host_services.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "base/dynamic_library.h"
#include "base/little_endian.h"
#include "base/module_path.h"
#include "platform/code_page.h"
#include "plugin/message_box_record.h"

namespace wavrel {

namespace {

constexpr std::int32_t kNoBoxShown = kMbResultCancel;
constexpr char16_t kPluginSection[] = u"WavrelPlugin";

std::atomic<IPluginHost*> g_host{nullptr};

// The host directory, filled by the first successful GetHostDirectory. A
// failure leaves it empty so that the next call tries again.
std::mutex g_hostDirectoryMutex;
std::u16string g_hostDirectory;

// Copies text with its terminating zero into the caption field; a text too
// long for the field is cut to 259 units so that the zero still fits.
void WriteCaption(std::vector<unsigned char>& record, std::size_t index, const char16_t* text) {
  const std::size_t length =
      std::min(std::char_traits<char16_t>::length(text), kTextFieldUnits - 1);
  unsigned char* field = record.data() + CaptionOffset(index);
  std::memcpy(field, text, length * sizeof(char16_t));
  std::memset(field + length * sizeof(char16_t), 0, sizeof(char16_t));
}

/// Runs a call into the host or the message-box library. Their code is not
/// ours: whatever it throws stops here, at the plug-in's edge, and the call
/// counts as failed.
template <class Call>
bool AcrossTheEdge(Call call) {
  try {
    call();
    return true;
  } catch (...) {
    return false;
  }
}

// Fills the button captions of record from the host's localisation service,
// section "Torvex". Leaves them empty when the host has no such service.
void FillCaptions(IPluginHost* host, std::vector<unsigned char>& record) {
  ILocaleMgrService* service =
      GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, host);
  if (service == nullptr) return;
  for (const CaptionKey& caption : kCaptionKeys) {
    const char16_t* text = nullptr;
    // A caption the host fails to give stays empty.
    if (AcrossTheEdge([&] { text = service->GetString(caption.key, kCaptionSection, 0); }) &&
        text != nullptr) {
      WriteCaption(record, caption.index, text);
    }
  }
  AcrossTheEdge([&] { service->Release(); });
}

}  // namespace

IPluginHost* GetHostPointer() { return g_host.load(std::memory_order_acquire); }

void SetHostPointer(IPluginHost* host) { g_host.store(host, std::memory_order_release); }

ILocaleMgrService* GetLocaleService(const char* serviceGuid, std::int32_t requestCode,
                                    IPluginHost* host) {
  if (serviceGuid == nullptr || host == nullptr) return nullptr;
  IBaseInterface* object = nullptr;
  // Only the pointer counts, not the result.
  if (!AcrossTheEdge([&] { host->QueryService(serviceGuid, requestCode, &object); }) ||
      object == nullptr) {
    return nullptr;
  }
  // A service of the wrong type would be called through slots it does not
  // have. The caller Releases only what it gets back: an object of another
  // type is given back here rather than kept for ever.
  auto* service = dynamic_cast<ILocaleMgrService*>(object);
  if (service == nullptr) AcrossTheEdge([&] { object->Release(); });
  return service;
}

std::u16string GetHostStartFolder(IPluginHost* host) {
  if (host == nullptr) return {};
  IBaseInterface* object = nullptr;
  if (!AcrossTheEdge([&] {
        host->QueryService(kStartFolderServiceGuid, kStartFolderServiceRequestCode, &object);
      }) ||
      object == nullptr) {
    return {};
  }
  const char16_t* text = nullptr;
  // An object of another type is only given back.
  if (auto* service = dynamic_cast<IStartFolderService*>(object)) {
    if (!AcrossTheEdge([&] { text = service->GetStartFolder(); })) text = nullptr;
  }
  // Copied before the service is given back.
  std::u16string folder = text == nullptr ? std::u16string() : std::u16string(text);
  AcrossTheEdge([&] { object->Release(); });
  return folder;
}

std::u16string LoadHostString(const std::u16string& key, const std::u16string& section,
                              IPluginHost* host, std::int32_t flags) {
  ILocaleMgrService* service =
      GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, host);
  if (service == nullptr) return {};
  const char16_t* text = nullptr;
  if (!AcrossTheEdge([&] { text = service->GetString(key.c_str(), section.c_str(), flags); })) {
    text = nullptr;
  }
  AcrossTheEdge([&] { service->Release(); });
  // The text belongs to the host and stays valid after the Release.
  return text == nullptr ? std::u16string() : std::u16string(text);
}

std::u16string GetPluginText(const std::u16string& key) {
  return LoadHostString(key, kPluginSection, GetHostPointer(), 0);
}

std::int32_t ShowHostMessageBox(IPluginHost* host, const std::u16string& text,
                                const std::u16string& caption, std::uint32_t style) {
  const std::optional<std::string> executable = ExecutablePath();
  if (!executable) return kNoBoxShown;
  const std::size_t slash = executable->rfind('/');
  if (slash == std::string::npos) return kNoBoxShown;
  // Only the host executable's folder: never the plug-in's, never a search.
  return ShowMessageBoxFrom(executable->substr(0, slash + 1), host, text, caption, style);
}

std::int32_t ShowMessageBoxFrom(const std::string& folder, IPluginHost* host,
                                const std::u16string& text, const std::u16string& caption,
                                std::uint32_t style) {
  if (folder.empty() || folder.back() != '/') return kNoBoxShown;
  std::vector<unsigned char> record;
  if (host != nullptr) {
    record.assign(kMessageBoxRecordSize, 0);
    PutLe32(record.data() + kFlagOffset, kFlagValue);
    FillCaptions(host, record);
  }
  DynamicLibrary library;
  if (!library.Open(folder + kMessageBoxLibraryName, nullptr)) return kNoBoxShown;
  auto* show = reinterpret_cast<XMessageBoxFn>(library.Symbol(kMessageBoxExportName, nullptr));
  if (show == nullptr) return kNoBoxShown;
  std::int32_t result = kNoBoxShown;
  if (!AcrossTheEdge([&] {
        result = show(nullptr, text.c_str(), caption.c_str(), style,
                      record.empty() ? nullptr : record.data());
      })) {
    result = kNoBoxShown;
  }
  return result;
}

std::u16string GetHostDirectory() {
  std::lock_guard lock(g_hostDirectoryMutex);
  if (g_hostDirectory.empty()) {
    const std::optional<std::u16string> executable = ExecutablePathUtf16();
    if (!executable) return {};
    g_hostDirectory = DirectoryOf(*executable);
  }
  return g_hostDirectory;
}

std::u16string GetPluginDirectory(const char16_t* name) {
  std::u16string directory = GetHostDirectory();
  if (directory.empty()) return {};
  directory += u"Plugins/";
  if (name != nullptr && *name != u'\0') {
    directory += name;
    directory += u'/';
  }
  return directory;
}

}  // namespace wavrel
