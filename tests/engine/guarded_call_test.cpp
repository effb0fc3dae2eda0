// Nothing thrown inside the engine leaves through its C interface: a library's exception or
// anything else thrown becomes the fallback result.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "guarded_call.h"

namespace facelume {
namespace {

TEST(GuardedCallTest, TurnsEveryExceptionIntoTheFallback) {
    EXPECT_EQ(GuardedCall::run("plain", -1, [] { return 7; }), 7);
    EXPECT_EQ(GuardedCall::run("opencv", -1,
                               [] {
                                   const cv::Mat small(2, 2, CV_8UC1);
                                   return cv::Mat(small, cv::Rect(0, 0, 9, 9)).rows;
                               }),
              -1);
    EXPECT_EQ(GuardedCall::run("other", -4, []() -> int { throw 42; }), -4);
}

}  // namespace
}  // namespace facelume
