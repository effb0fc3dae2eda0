#include "test_names.h"

#include <gtest/gtest.h>

#include <cctype>

namespace testnames {

std::string testName(const std::string& prefix) {
    return prefix + "_" + FACELUME_TEST_BUILD_DIGITS;
}

std::string letterName(const std::string& prefix) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string text =
        prefix + (test != nullptr ? test->name() : "") + FACELUME_TEST_BUILD_DIGITS;
    std::string name;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            name += static_cast<char>('a' + c - '0');
        else if (std::isalpha(static_cast<unsigned char>(c)))
            name += c;
    }
    return name;
}

}  // namespace testnames
