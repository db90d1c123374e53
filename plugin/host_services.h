// Services the plug-in takes from outside: localised texts from the host's
// localisation service, message boxes from libXMessageBox.so in the host
// executable's folder, and the host and plug-in folders (the code-page
// conversions they use are platform's, code_page.h). No exception leaves
// any of them: a text that cannot be had is empty, a message box that
// cannot be shown answers 2.
#pragma once

#include <cstdint>
#include <string>

#include "platform/code_page.h"  // ToWideString, ToNarrowString
#include "plugin/plugin_interfaces.h"

namespace wavrel {

/// The process-wide host pointer, written by SetHost (null at load). Read
/// without a lock from the worker threads; the host sets it before the first
/// dialog and keeps it while one is open.
IPluginHost* GetHostPointer();
void SetHostPointer(IPluginHost* host);

/// The host's service for serviceGuid/requestCode as an ILocaleMgrService
/// (run-time checked), or null. The caller Releases a non-null result.
ILocaleMgrService* GetLocaleService(const char* serviceGuid, std::int32_t requestCode,
                                    IPluginHost* host);

/// The folder of the host's start-folder service (IStartFolderService);
/// empty when the host has none or it gives none.
std::u16string GetHostStartFolder(IPluginHost* host);

/// Text of key in section from the host's localisation service; empty when
/// there is none.
std::u16string LoadHostString(const std::u16string& key, const std::u16string& section,
                              IPluginHost* host, std::int32_t flags);

/// LoadHostString(key, "WavrelPlugin", host pointer, 0).
std::u16string GetPluginText(const std::u16string& key);

/// Message box styles used by the dialog.
inline constexpr std::uint32_t kMbOkExclamation = 48;        // report
inline constexpr std::uint32_t kMbOkCancelExclamation = 49;  // question
inline constexpr std::int32_t kMbResultOk = 1;
inline constexpr std::int32_t kMbResultCancel = 2;

/// Shows a box through libXMessageBox.so in the host executable's folder,
/// with button captions from section "Torvex". Returns the button that
/// closed it (1 OK, 2 Cancel, ...), or 2 when no box could be shown.
std::int32_t ShowHostMessageBox(IPluginHost* host, const std::u16string& text,
                                const std::u16string& caption, std::uint32_t style);
/// The same with libXMessageBox.so from folder (ending in '/'): for a host
/// folder given by the caller, as the tests' environments give one.
std::int32_t ShowMessageBoxFrom(const std::string& folder, IPluginHost* host,
                                const std::u16string& text, const std::u16string& caption,
                                std::uint32_t style);

/// Folder of the host executable ending in '/', cached after the first
/// success; empty when it cannot be determined.
std::u16string GetHostDirectory();

/// GetHostDirectory() + "Plugins/" + name + "/" (name and its '/' left out
/// when name is null or empty); empty when the host folder is unknown.
std::u16string GetPluginDirectory(const char16_t* name);

}  // namespace wavrel
