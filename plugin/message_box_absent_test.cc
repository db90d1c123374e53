// Built twice: beside a libXMessageBox.so that lacks the export, and in a
// folder without the library. Either way no box can be shown.
#include <gtest/gtest.h>

#include <filesystem>

#include "plugin/host_services.h"

#ifndef MESSAGE_BOX_SUITE
#error "MESSAGE_BOX_SUITE names the test suite"
#endif

namespace wavrel {
namespace {

class NoServices final : public IPluginHost {
 public:
  int queries = 0;
  void Release() override {}
  bool QueryService(const char*, std::int32_t, IBaseInterface** out) override {
    ++queries;
    *out = nullptr;
    return false;
  }
};

TEST(MESSAGE_BOX_SUITE, NoBoxCountsAsCancel) {
  const std::filesystem::path library =
      std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libXMessageBox.so";
  EXPECT_EQ(std::filesystem::exists(library), MESSAGE_BOX_LIBRARY_PRESENT != 0);

  NoServices host;
  EXPECT_EQ(ShowHostMessageBox(&host, u"text", u"caption", kMbOkCancelExclamation),
            kMbResultCancel);
  EXPECT_EQ(ShowHostMessageBox(nullptr, u"text", u"caption", kMbOkExclamation), kMbResultCancel);
  EXPECT_EQ(host.queries, 1);
}

}  // namespace
}  // namespace wavrel
