#include "base/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace wavrel {

namespace {

void SetError(std::string* error, const char* fallback) {
  if (error == nullptr) return;
  const char* message = dlerror();
  *error = message != nullptr ? message : fallback;
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    m_handle = std::exchange(other.m_handle, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& path, std::string* error, bool keepLoaded) {
  Close();
  if (path.empty()) {
    if (error != nullptr) *error = "no library path given";
    return false;
  }
  dlerror();  // forget an earlier message
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepLoaded ? RTLD_NODELETE : 0));
  if (m_handle == nullptr) {
    SetError(error, "the library cannot be loaded");
    return false;
  }
  return true;
}

void* DynamicLibrary::Symbol(const char* name, std::string* error) const {
  if (m_handle == nullptr || name == nullptr) {
    if (error != nullptr) *error = "no library loaded";
    return nullptr;
  }
  dlerror();
  void* address = dlsym(m_handle, name);
  if (address == nullptr) SetError(error, "the symbol has no address");
  return address;
}

void DynamicLibrary::Close() {
  if (m_handle != nullptr) dlclose(std::exchange(m_handle, nullptr));
}

}  // namespace wavrel
