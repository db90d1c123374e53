// The host framework's interfaces, shared by the plug-in, the host
// applications and the tests. The order of the virtual operations (their
// slots) is the contract between host and plug-in: never reorder, insert or
// remove one. The interfaces have no virtual destructor for the same reason;
// objects end through Release.
//
// The plug-in builds with hidden visibility; these types keep default
// visibility so that their type information is one and the same on both sides
// of the library boundary (the host hands out an IBaseInterface that the
// plug-in casts to ILocaleMgrService at run time).
#pragma once

#include <cstdint>

#define WAVREL_INTERFACE __attribute__((visibility("default")))
#define WAVREL_EXPORT extern "C" __attribute__((visibility("default")))

class IPluginHost;

/// Root of the framework's interfaces. Release: the holder is done with the
/// object; what that means is up to each implementation.
class WAVREL_INTERFACE IBaseInterface {
 public:
  virtual void Release() = 0;  // slot 0

 protected:
  ~IBaseInterface() = default;
};

/// The plug-in object that CreatePlugin hands to the host.
class WAVREL_INTERFACE IBasePlugin : public IBaseInterface {
 public:
  // slot 0: Release destroys the plug-in object and what it owns.
  virtual std::int32_t GetLastErrorCode() = 0;                             // 1
  virtual void SetHost(IPluginHost* host) = 0;                             // 2
  virtual bool Initialize() = 0;                                           // 3
  virtual bool QueryInterface(std::int32_t id, IBaseInterface** out) = 0;  // 4
  virtual std::int32_t GetPluginType() = 0;                                // 5
  virtual const char* GetGuid() = 0;                                       // 6
  virtual std::int32_t GetVersion() = 0;                                   // 7
  virtual const char* GetName() = 0;                                       // 8
  virtual bool Uninitialize() = 0;                                         // 9

 protected:
  ~IBasePlugin() = default;
};

/// A second root that the plug-in object also implements.
class WAVREL_INTERFACE IDestroyEvent {
 public:
  virtual void OnDestroy() = 0;  // slot 0

 protected:
  ~IDestroyEvent() = default;
};

/// The conversion dialog's face toward the host (interface id 1).
class WAVREL_INTERFACE IWavrel : public IBaseInterface {
 public:
  // slot 0: Release deletes the dialog object; the IWavrel itself stays.
  virtual std::int32_t Reserved() = 0;    // 1: returns 0
  virtual std::int32_t ShowDialog() = 0;  // 2: modal; 0 when closed, -1 on failure

 protected:
  ~IWavrel() = default;
};

/// The host's localisation service. Slots 1 to 7 belong to the host and are
/// never called by the plug-in; they are declared so that GetString keeps
/// slot 8.
class WAVREL_INTERFACE ILocaleMgrService : public IBaseInterface {
 public:
  virtual std::int32_t GetLanguageId() { return {}; }                   // 1
  virtual bool SetLanguageId(std::int32_t) { return false; }            // 2
  virtual std::int32_t GetLanguageCount() { return {}; }                // 3
  virtual const char16_t* GetLanguageName(std::int32_t) { return {}; }  // 4
  virtual bool Reload() { return false; }                               // 5
  virtual const char16_t* GetFilePath() { return {}; }                  // 6
  virtual bool HasSection(const char16_t*) { return false; }            // 7
  /// Text of key in section, or null. The text belongs to the service and must
  /// stay valid after the service's Release.
  virtual const char16_t* GetString(const char16_t* key, const char16_t* section,  // 8
                                    std::int32_t flags) = 0;

 protected:
  ~ILocaleMgrService() = default;
};

/// The host object given to SetHost. Slots 1 to 13 are the host's own (with
/// do-nothing defaults); the plug-in calls only QueryService (slot 14).
class WAVREL_INTERFACE IPluginHost : public IBaseInterface {
 public:
  virtual std::int32_t GetHostVersion() { return {}; }                        // 1
  virtual const char* GetHostName() { return {}; }                            // 2
  virtual std::int32_t GetPluginCount() { return {}; }                        // 3
  virtual IBasePlugin* GetPlugin(std::int32_t) { return {}; }                 // 4
  virtual IBasePlugin* FindPlugin(const char*) { return {}; }                 // 5
  virtual bool LoadPlugin(const char16_t*) { return false; }                  // 6
  virtual bool UnloadPlugin(const char*) { return false; }                    // 7
  virtual void* GetMainWindow() { return {}; }                                // 8
  virtual std::int32_t GetLanguageId() { return {}; }                         // 9
  virtual bool RegisterEvent(IDestroyEvent*) { return false; }                // 10
  virtual bool UnregisterEvent(IDestroyEvent*) { return false; }              // 11
  virtual bool PostHostMessage(std::int32_t, std::int64_t) { return false; }  // 12
  virtual const char16_t* GetHostDirectoryText() { return {}; }               // 13
  /// Hands out the service named by serviceGuid and requestCode in *out (null
  /// when there is none). The caller Releases what it gets.
  virtual bool QueryService(const char* serviceGuid, std::int32_t requestCode,  // 14
                            IBaseInterface** out) = 0;

 protected:
  ~IPluginHost() = default;
};

/// Values of the localisation service.
inline constexpr char kLocaleServiceGuid[] = "140B81C0-F62B-4ee0-9897-BDC3F8F03B18";
inline constexpr std::int32_t kLocaleServiceRequestCode = 16452;

/// A host service that the plug-in asks for each time it opens its dialog:
/// the folder the user opened the host with (a file manager's "Open with" on
/// recordings or on a folder), which the dialog then has chosen as its input
/// folder. A host without the service, or one that answers null or an empty
/// text, gets the dialog as always.
class WAVREL_INTERFACE IStartFolderService : public IBaseInterface {
 public:
  /// The folder as an absolute '/'-separated path, or null. The text belongs
  /// to the service and must stay valid after the service's Release.
  virtual const char16_t* GetStartFolder() = 0;  // 1

 protected:
  ~IStartFolderService() = default;
};

/// Values of the start-folder service.
inline constexpr char kStartFolderServiceGuid[] = "031E0CAD-5E66-4D13-A096-34B0EE3042B3";
inline constexpr std::int32_t kStartFolderServiceRequestCode = 1;

/// The one symbol the plug-in library exports: the plug-in object, or null.
WAVREL_EXPORT IBasePlugin* CreatePlugin();
using CreatePluginFn = IBasePlugin* (*)();
