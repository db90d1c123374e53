// A host with a localisation service whose text for every key is "T:<key>"
// (so that texts can be told apart in assertions), with per-key overrides
// (an empty override means "the host has no text"). It records the keys asked
// for in the plug-in's section, in order. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::testing {

class FakeLocaleHost final : public IPluginHost, public ILocaleMgrService {
 public:
  void Release() override {}
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override {
    *out = nullptr;
    if (std::string(serviceGuid) != kLocaleServiceGuid || requestCode != kLocaleServiceRequestCode)
      return false;
    *out = static_cast<ILocaleMgrService*>(this);
    return true;
  }
  const char16_t* GetString(const char16_t* key, const char16_t* section, std::int32_t) override {
    std::lock_guard lock(m_mutex);
    const std::u16string k(key);
    if (std::u16string(section) == u"WavrelPlugin") m_asked.push_back(k);
    auto over = m_overrides.find(k);
    if (over != m_overrides.end()) return over->second.empty() ? nullptr : over->second.c_str();
    auto [it, inserted] = m_texts.try_emplace(k, u"T:" + k);
    return it->second.c_str();
  }

  /// The text of key; empty means the host has none.
  void SetText(const std::u16string& key, const std::u16string& text) {
    std::lock_guard lock(m_mutex);
    m_overrides[key] = text;
  }
  std::vector<std::u16string> AskedKeys() const {
    std::lock_guard lock(m_mutex);
    return m_asked;
  }

 private:
  mutable std::mutex m_mutex;
  std::map<std::u16string, std::u16string> m_texts;      // stable storage of returned texts
  std::map<std::u16string, std::u16string> m_overrides;  // ditto
  std::vector<std::u16string> m_asked;
};

}  // namespace wavrel::testing
