// make_sample_video: turns a picture into a short video (a slow zoom towards its centre) to try
// facelume-cli on. Usage: make_sample_video PICTURE OUTPUT.mp4 [FRAMES [FPS]]

#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_sample_video PICTURE OUTPUT.mp4 [FRAMES [FPS]]\n");
        return 2;
    }
    const cv::Mat picture = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (picture.empty()) {
        std::fprintf(stderr, "make_sample_video: cannot read %s\n", argv[1]);
        return 3;
    }
    const int frames = argc > 3 ? std::atoi(argv[3]) : 48;
    const double fps = argc > 4 ? std::atof(argv[4]) : 24.0;
    // Even sizes suit every codec.
    const cv::Size size(picture.cols & ~1, picture.rows & ~1);
    cv::VideoWriter writer(argv[2], cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', '4', 'v'),
                           fps, size);
    if (frames <= 0 || fps <= 0 || !writer.isOpened()) {
        std::fprintf(stderr, "make_sample_video: cannot write %s\n", argv[2]);
        return 4;
    }
    const cv::Point2f centre(picture.cols / 2.0f, picture.rows / 2.0f);
    for (int i = 0; i < frames; ++i) {
        const double zoom = 1.0 + 0.15 * i / frames;
        const cv::Mat transform = cv::getRotationMatrix2D(centre, 0.0, zoom);
        cv::Mat frame;
        cv::warpAffine(picture, frame, transform, size, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        writer.write(frame);
    }
    return 0;
}
