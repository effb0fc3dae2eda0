#include "video_device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "retry_on_interrupt.h"

std::string VideoDevice::open(const std::string& path, int width, int height) {
    if (width % 2 != 0 || height % 2 != 0) {
        return "a video device takes frames of even width and height, not " +
               std::to_string(width) + "x" + std::to_string(height);
    }
    m_path = path;
    m_fd.reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!m_fd.isValid()) {
        return "cannot open " + path + ": " + std::strerror(errno) +
               " (is v4l2loopback loaded? see docs/virtual-camera.md)";
    }
    struct stat status {};
    if (::fstat(m_fd.get(), &status) != 0 || !S_ISCHR(status.st_mode)) return {};
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = static_cast<__u32>(width);
    format.fmt.pix.height = static_cast<__u32>(height);
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUV420;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = static_cast<__u32>(width);
    format.fmt.pix.sizeimage = static_cast<__u32>(width * height * 3 / 2);
    format.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
    if (::ioctl(m_fd.get(), VIDIOC_S_FMT, &format) != 0) {
        return path + " does not take " + std::to_string(width) + "x" + std::to_string(height) +
               " I420 frames: " + std::strerror(errno) + " (is it a v4l2loopback output device?)";
    }
    return {};
}

std::string VideoDevice::write(const cv::Mat& bgr) {
    cv::cvtColor(bgr, m_yuv, cv::COLOR_BGR2YUV_I420);
    const auto* bytes = m_yuv.ptr<unsigned char>();
    std::size_t left = m_yuv.total() * m_yuv.elemSize();
    while (left > 0) {
        const ssize_t written =
            platform::retryOnInterrupt([&] { return ::write(m_fd.get(), bytes, left); });
        if (written <= 0) return "cannot write to " + m_path + ": " + std::strerror(errno);
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    return {};
}
