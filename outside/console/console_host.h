// The console's link to the plug-in's host pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::host {

/// Makes host the process's host object for the dialog's texts and message
/// boxes (null detaches).
void AttachConsoleHost(IPluginHost* host);

/// Answers as inner does, but first calls beforeService each time the
/// plug-in asks for a service. A message box asks for its button captions
/// just before it prints on standard error, so the console's progress line
/// can step aside for it.
class ConsoleHost final : public IPluginHost {
 public:
  ConsoleHost(IPluginHost* inner, std::function<void()> beforeService)
      : m_inner(inner), m_beforeService(std::move(beforeService)) {}
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;
  ~ConsoleHost() = default;

  void Release() override {}
  const char* GetHostName() override { return m_inner->GetHostName(); }
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override {
    if (m_beforeService) m_beforeService();
    return m_inner->QueryService(serviceGuid, requestCode, out);
  }

 private:
  IPluginHost* const m_inner;
  const std::function<void()> m_beforeService;
};

}  // namespace wavrel::host
