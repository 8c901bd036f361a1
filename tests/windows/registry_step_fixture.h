// The fixture of the integration steps' tests that write into the registry.
#pragma once
#include <gtest/gtest.h>

#include "shared/installer_state.h"
#include "shared/path_buffer.h"

namespace enginetest {

// The cases of a step that writes the installation into the registry's 64-bit view:
// `removeKeys` takes away what the step writes, before and after each case, and the
// record names a 64-bit system with the program in `installDir`.
class RegistryStepTest : public ::testing::Test {
 protected:
  RegistryStepTest(void (*removeKeys)(), const char* installDir) : removeKeys_(removeKeys), installDir_(installDir) {}
  void SetUp() override {
    removeKeys_();
    state_.is64BitWindows = 1;
    CopyPath(state_.installDir, installDir_);
  }
  void TearDown() override { removeKeys_(); }

  InstallerState state_;

 private:
  void (*removeKeys_)();
  const char* installDir_;
};

}  // namespace enginetest
