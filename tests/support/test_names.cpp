#include "test_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

namespace testnames {
namespace {

std::string buildDigits() {
    return std::to_string(std::hash<std::string>{}(FACELUME_TEST_BUILD_DIR) % 100000000);
}

}  // namespace

std::string testName(const std::string& prefix) { return prefix + "_" + buildDigits(); }

std::string letterName(const std::string& prefix) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name;
    for (const char c : prefix + (test != nullptr ? test->name() : "") + buildDigits()) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            name += static_cast<char>('a' + c - '0');
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            name += c;
        }
    }
    return name;
}

}  // namespace testnames
