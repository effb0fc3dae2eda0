// Work buffers follow the regions they serve without keeping every size they have ever seen.

#include <gtest/gtest.h>

#include "work_area.h"

namespace facelume {
namespace {

TEST(WorkAreaTest, GrowsWithSlackAndStaysBoundedByTheLatestArea) {
    cv::Mat buffer;
    cv::Mat view = workArea(buffer, cv::Size(100, 80), CV_32FC3);
    EXPECT_EQ(view.size(), cv::Size(100, 80));
    const uchar* start = buffer.data;
    // A region a little smaller or larger reuses the buffer.
    workArea(buffer, cv::Size(90, 70), CV_32FC3);
    workArea(buffer, cv::Size(110, 90), CV_32FC3);
    EXPECT_EQ(buffer.data, start);
    // A wide region, then a tall one: the buffer holds the tall one, not their square.
    workArea(buffer, cv::Size(20000, 7), CV_8UC1);
    view = workArea(buffer, cv::Size(7, 20000), CV_8UC1);
    EXPECT_EQ(view.size(), cv::Size(7, 20000));
    EXPECT_LE(buffer.total(), 2 * (7 + 1 + 8) * (20000 + 5000 + 8));
}

}  // namespace
}  // namespace facelume
