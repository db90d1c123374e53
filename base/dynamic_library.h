// A shared library loaded at run time, unloaded when the object ends.
#pragma once

#include <string>

namespace wavrel {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  /// Loads the library at path (a path with a '/' is taken as it stands,
  /// never searched for), resolving all its symbols now and keeping them out
  /// of the global namespace. Unloads what this object held before. False and
  /// the loader's message in *error (when error is not null) on failure.
  /// keepLoaded: the code stays mapped after Close (RTLD_NODELETE), for a
  /// library whose objects or threads may outlive the handle.
  bool Open(const std::string& path, std::string* error, bool keepLoaded = false);

  /// The address of the exported symbol name, or null with the loader's
  /// message in *error (when error is not null).
  void* Symbol(const char* name, std::string* error) const;

  /// Unloads the library; nothing when none is loaded.
  void Close();

  bool IsOpen() const { return m_handle != nullptr; }

 private:
  void* m_handle = nullptr;
};

}  // namespace wavrel
