#include "shared/failure_cause.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

// The log tells causes apart by their names: one of its own for each, in the log's
// form (lower-case ASCII words joined by hyphens).
TEST(FailureCause, EveryCauseHasANameOfItsOwn) {
  std::set<std::string> names;
  for (unsigned i = 0; i < static_cast<unsigned>(FailureCause::Count); ++i) {
    const std::string name = FailureCauseName(static_cast<FailureCause>(i));
    EXPECT_TRUE(names.insert(name).second) << name << " names two causes";
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string::npos) << name;
    EXPECT_NE(name.front(), '-');
  }
  EXPECT_STREQ(FailureCauseName(FailureCause::FileWriteFailed), "file-write-failed");
  EXPECT_STREQ(FailureCauseName(FailureCause::Count), "unknown");
}
