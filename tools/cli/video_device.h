#pragma once

// A V4L2 video output device (a virtual camera made by v4l2loopback) that takes BGR frames and
// hands them on as YUV 4:2:0 (I420), the format video-call apps read from such a camera. A path
// that is not a character device (a file, a pipe) receives the same I420 frames unchanged,
// which is how the output is checked where no such device can exist. Used by one thread.

#include <string>

#include <opencv2/core.hpp>

#include "unique_handle.h"

class VideoDevice {
public:
    // Opens the device for width x height frames (both even); empty on success, else why not.
    std::string open(const std::string& path, int width, int height);
    // Empty on success, else why the frame could not be written.
    std::string write(const cv::Mat& bgr);

private:
    platform::UniqueHandle m_fd;
    std::string m_path;
    cv::Mat m_yuv;
};
