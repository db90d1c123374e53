// A host with a localisation service whose texts are FakeTexts (the keys
// recorded are those asked for in the plug-in's section). Thread-safe.
#pragma once

#include <string>

#include "frontends/dialog/testing/fake_texts.h"
#include "plugin/plugin_interfaces.h"

namespace wavrel::testing {

class FakeLocaleHost final : public IPluginHost, public ILocaleMgrService, public FakeTexts {
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
    return Lookup(key, std::u16string(section) == u"WavrelPlugin");
  }
};

}  // namespace wavrel::testing
