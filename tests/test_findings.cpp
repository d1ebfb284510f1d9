// The table of finding classes and the manual page agree: every class that
// corvexin_policy reports is described in corvexin_policy(8).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "findings.h"

TEST(Findings, EveryClassIsInTheManualPage) {
  std::ifstream in(std::string(TESTS_DIR) + "/../man/corvexin_policy.8");
  std::stringstream page;
  page << in.rdbuf();
  ASSERT_FALSE(page.str().empty());
  for (size_t i = 0; i < kFindingClassCount; ++i) {
    std::string code;  // as the page writes it, "-" escaped
    for (const char* p = kFindingClasses[i].code; *p != '\0'; ++p)
      code += *p == '-' ? std::string("\\-") : std::string(1, *p);
    const std::string& text = page.str();
    EXPECT_TRUE(text.find(".B " + code + "\n") != std::string::npos ||
                text.find(".BR " + code + " ") != std::string::npos ||
                text.find(".RB ( " + code) != std::string::npos)
        << kFindingClasses[i].code;
    EXPECT_NE(std::string(kFindingClasses[i].meaning), "") << kFindingClasses[i].code;
  }
}
