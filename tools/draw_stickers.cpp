// Draws facelume's stickers as RGBA pictures into a folder:
//   draw_stickers <output folder>
// Each picture is painted at four times its size with opaque, hard-edged shapes (later shapes
// replace earlier ones, translucent colours included), then reduced with its colours weighted
// by alpha, which gives clean anti-aliased edges without dark fringes.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kSupersampling = 4;
constexpr double kPi = 3.14159265358979;

// BGRA colours.
const cv::Scalar kInk(28, 24, 24, 255);
const cv::Scalar kWhite(255, 255, 255, 255);

class Canvas {
public:
    Canvas(int width, int height)
        : m_image(height * kSupersampling, width * kSupersampling, CV_8UC4, cv::Scalar::all(0)) {}

    void polygon(const std::vector<cv::Point2d>& points, const cv::Scalar& colour) {
        const std::vector<cv::Point> scaled = toCanvas(points);
        cv::fillPoly(m_image, std::vector<std::vector<cv::Point>>{scaled}, colour, cv::LINE_8);
    }
    void outline(const std::vector<cv::Point2d>& points, const cv::Scalar& colour, double thickness,
                 bool closed = true) {
        const std::vector<cv::Point> scaled = toCanvas(points);
        cv::polylines(m_image, std::vector<std::vector<cv::Point>>{scaled}, closed, colour,
                      static_cast<int>(thickness * kSupersampling), cv::LINE_8);
    }
    void ellipse(cv::Point2d centre, cv::Size2d halfAxes, const cv::Scalar& colour,
                 double thickness = -1, double from = 0, double to = 360) {
        cv::ellipse(m_image, toCanvas(centre),
                    cv::Size(static_cast<int>(halfAxes.width * kSupersampling),
                             static_cast<int>(halfAxes.height * kSupersampling)),
                    0, from, to, colour,
                    thickness < 0 ? cv::FILLED : static_cast<int>(thickness * kSupersampling),
                    cv::LINE_8);
    }
    void circle(cv::Point2d centre, double radius, const cv::Scalar& colour) {
        ellipse(centre, cv::Size2d(radius, radius), colour);
    }

    bool save(const std::string& path) const {
        // Reduce with colours weighted by alpha, then undo the weighting.
        cv::Mat premultiplied;
        m_image.convertTo(premultiplied, CV_32FC4, 1.0 / 255.0);
        for (auto it = premultiplied.begin<cv::Vec4f>(); it != premultiplied.end<cv::Vec4f>();
             ++it) {
            for (int c = 0; c < 3; ++c) (*it)[c] *= (*it)[3];
        }
        cv::Mat small;
        cv::resize(premultiplied, small, m_image.size() / kSupersampling, 0, 0, cv::INTER_AREA);
        for (auto it = small.begin<cv::Vec4f>(); it != small.end<cv::Vec4f>(); ++it) {
            const float alpha = (*it)[3];
            for (int c = 0; c < 3; ++c) (*it)[c] = alpha > 0 ? (*it)[c] / alpha : 0.f;
        }
        cv::Mat out;
        small.convertTo(out, CV_8UC4, 255.0);
        return cv::imwrite(path, out, {cv::IMWRITE_PNG_COMPRESSION, 9});
    }

private:
    static cv::Point toCanvas(cv::Point2d p) {
        return cv::Point(static_cast<int>(std::lround(p.x * kSupersampling)),
                         static_cast<int>(std::lround(p.y * kSupersampling)));
    }
    static std::vector<cv::Point> toCanvas(const std::vector<cv::Point2d>& points) {
        std::vector<cv::Point> out;
        for (const cv::Point2d& p : points) out.push_back(toCanvas(p));
        return out;
    }

    cv::Mat m_image;
};

std::vector<cv::Point2d> mirrored(const std::vector<cv::Point2d>& points, double width) {
    std::vector<cv::Point2d> out;
    for (const cv::Point2d& p : points) out.emplace_back(width - p.x, p.y);
    return out;
}

// Lens centres 0.5 eye distances either side of the middle at a width of 2.3 eye distances.
Canvas glasses() {
    Canvas canvas(400, 150);
    const cv::Scalar lens(60, 40, 30, 130), frame(30, 26, 26, 255), glint(255, 255, 255, 170);
    for (const double x : {113.0, 287.0}) {
        canvas.ellipse({x, 72}, {76, 58}, lens);
        canvas.ellipse({x, 72}, {76, 58}, frame, 11);
        canvas.ellipse({x, 72}, {58, 42}, glint, 5, 200, 245);
    }
    canvas.outline({{186, 62}, {193, 52}, {200, 49}, {207, 52}, {214, 62}}, frame, 10, false);
    canvas.outline({{40, 52}, {6, 44}}, frame, 10, false);
    canvas.outline({{360, 52}, {394, 44}}, frame, 10, false);
    return canvas;
}

Canvas crown() {
    Canvas canvas(360, 240);
    const cv::Scalar gold(40, 185, 240, 255), shade(20, 120, 180, 255), light(150, 230, 255, 255);
    const std::vector<cv::Point2d> body = {{24, 200},  {14, 70},  {96, 140}, {180, 24},
                                           {264, 140}, {346, 70}, {336, 200}};
    canvas.polygon(body, gold);
    canvas.outline(body, shade, 6);
    const std::vector<cv::Point2d> band = {{20, 180}, {340, 180}, {340, 230}, {20, 230}};
    canvas.polygon(band, gold);
    canvas.outline(band, shade, 6);
    canvas.outline({{30, 190}, {330, 190}}, light, 4, false);
    for (const cv::Point2d tip :
         {cv::Point2d(14, 64), cv::Point2d(180, 18), cv::Point2d(346, 64)}) {
        canvas.circle(tip, 15, shade);
        canvas.circle(tip, 11, light);
    }
    const cv::Scalar jewels[3] = {{50, 40, 210, 255}, {190, 90, 30, 255}, {70, 160, 40, 255}};
    for (int i = 0; i < 3; ++i) {
        const cv::Point2d centre(80 + 100 * i, 205);
        canvas.circle(centre, 16, shade);
        canvas.circle(centre, 12, jewels[i]);
        canvas.circle(centre + cv::Point2d(-4, -4), 4, kWhite);
    }
    return canvas;
}

Canvas catEars() {
    Canvas canvas(440, 210);
    const cv::Scalar fur(70, 64, 60, 255), inner(175, 150, 245, 255), edge(30, 28, 28, 255);
    const std::vector<cv::Point2d> ear = {{30, 200}, {60, 90}, {96, 18}, {140, 70}, {190, 160}};
    const std::vector<cv::Point2d> inside = {
        {62, 180}, {80, 100}, {100, 56}, {130, 96}, {158, 160}};
    for (const bool right : {false, true}) {
        const auto place = [&](const std::vector<cv::Point2d>& points) {
            return right ? mirrored(points, 440) : points;
        };
        canvas.polygon(place(ear), fur);
        canvas.outline(place(ear), edge, 7);
        canvas.polygon(place(inside), inner);
    }
    return canvas;
}

std::vector<cv::Point2d> heart(cv::Point2d centre, double size) {
    std::vector<cv::Point2d> points;
    for (int i = 0; i < 72; ++i) {
        const double t = 2 * kPi * i / 72;
        const double x = 16 * std::pow(std::sin(t), 3);
        const double y =
            13 * std::cos(t) - 5 * std::cos(2 * t) - 2 * std::cos(3 * t) - std::cos(4 * t);
        points.emplace_back(centre.x + x * size / 32, centre.y - y * size / 32);
    }
    return points;
}

std::vector<cv::Point2d> sparkle(cv::Point2d centre, double size) {
    std::vector<cv::Point2d> points;
    for (int i = 0; i < 8; ++i) {
        const double angle = kPi * i / 4;
        const double radius = i % 2 == 0 ? size : size * 0.3;
        points.emplace_back(centre.x + radius * std::sin(angle),
                            centre.y - radius * std::cos(angle));
    }
    return points;
}

// Hearts 0.8 eye distances either side of the middle at a width of 2.6 eye distances.
Canvas blushHearts() {
    Canvas canvas(420, 130);
    const cv::Scalar pink(170, 110, 250, 215), deep(120, 50, 215, 255), shine(235, 215, 255, 230);
    for (const double x : {81.0, 339.0}) {
        canvas.polygon(heart({x, 66}, 100), pink);
        canvas.outline(heart({x, 66}, 100), deep, 4);
        canvas.ellipse({x - 18, 46}, {8, 5}, shine);
    }
    canvas.polygon(sparkle({150, 26}, 12), kWhite);
    canvas.polygon(sparkle({272, 100}, 9), kWhite);
    return canvas;
}

Canvas moustache() {
    Canvas canvas(300, 110);
    const cv::Scalar hair(40, 55, 85, 255), dark(20, 28, 45, 255);
    std::vector<cv::Point2d> half;
    // Upper edge from the middle out to the curl, then the lower edge back.
    for (int i = 0; i <= 20; ++i) {
        const double t = i / 20.0;
        half.emplace_back(150 - 125 * t, 30 + 14 * std::sin(kPi * t) - 18 * t * t * t);
    }
    for (int i = 20; i >= 0; --i) {
        const double t = i / 20.0;
        half.emplace_back(150 - 118 * t, 62 + 16 * std::sin(kPi * t * 0.9) - 44 * std::pow(t, 4));
    }
    for (const bool right : {false, true}) {
        const std::vector<cv::Point2d> shape = right ? mirrored(half, 300) : half;
        canvas.polygon(shape, hair);
        canvas.outline(shape, dark, 3);
    }
    canvas.polygon({{150, 34}, {156, 58}, {144, 58}}, hair);
    return canvas;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_stickers <output folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "draw_stickers: cannot create %s: %s\n", argv[1],
                     error.message().c_str());
        return 1;
    }
    const std::vector<std::pair<const char*, std::function<Canvas()>>> stickers = {
        {"glasses", glasses},
        {"crown", crown},
        {"cat_ears", catEars},
        {"blush_hearts", blushHearts},
        {"moustache", moustache}};
    for (const auto& [name, draw] : stickers) {
        const std::string path = (folder / (std::string(name) + ".png")).string();
        if (!draw().save(path)) {
            std::fprintf(stderr, "draw_stickers: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
