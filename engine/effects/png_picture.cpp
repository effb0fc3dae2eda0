#include "png_picture.h"

#include <png.h>

namespace facelume {

cv::Mat readPngPicture(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return cv::Mat();
    // The simplified reader converts every PNG to the format asked for. Its errors come back as
    // a result: it never jumps out of this function.
    image.format = PNG_FORMAT_BGRA;
    cv::Mat picture(int(image.height), int(image.width), CV_8UC4);
    if (!png_image_finish_read(&image, nullptr, picture.data, png_int_32(picture.step), nullptr)) {
        png_image_free(&image);
        return cv::Mat();
    }
    return picture;
}

}  // namespace facelume
