// ForwardingEnvironmentT<I>: an environment of interface I (the core's, or
// one that extends it) that hands every operation of the core's interface
// to another environment; a class over it overrides what it changes (the
// console's workers, the dialog's host, a test's work folders).
#pragma once

#include <memory>
#include <string>

#include "core/conversion_environment.h"

namespace wavrel {

template <class I = IConversionEnvironment>
class ForwardingEnvironmentT : public I {
 public:
  explicit ForwardingEnvironmentT(IConversionEnvironment& base) : m_base(base) {}

  std::unique_ptr<IProgramRun> NewProgramRun() override { return m_base.NewProgramRun(); }
  bool ProgramExists(const std::string& path) override { return m_base.ProgramExists(path); }
  bool MakeWorkFolder(std::string* folder, std::string* error) override {
    return m_base.MakeWorkFolder(folder, error);
  }
  bool MakeFolder(const std::string& folder, std::string* error) override {
    return m_base.MakeFolder(folder, error);
  }
  void RemoveFolderTree(const std::string& folder) override { m_base.RemoveFolderTree(folder); }
  void RemoveDeadRunsWorkFolders() override { m_base.RemoveDeadRunsWorkFolders(); }
  IConversionFiles& Files() override { return m_base.Files(); }

 protected:
  IConversionEnvironment& Base() { return m_base; }

 private:
  IConversionEnvironment& m_base;
};

}  // namespace wavrel
