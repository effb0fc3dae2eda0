// Writes facelume's colour looks as .cube files (3D LUTs) into a folder:
//   make_luts <output folder> [lattice size, default 33]
// Each look is a function from an RGB colour (0..1) to an RGB colour, sampled on the lattice.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgb {
    float r, g, b;
};

struct Look {
    const char* name;
    const char* title;
    std::function<Rgb(Rgb)> map;
};

float clamp01(float v) { return std::clamp(v, 0.f, 1.f); }
float luma(Rgb c) { return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b; }
float mixf(float a, float b, float t) { return a + (b - a) * t; }

Rgb saturate(Rgb c, float amount) {
    const float y = luma(c);
    return {y + (c.r - y) * amount, y + (c.g - y) * amount, y + (c.b - y) * amount};
}

// Smooth contrast around mid grey: amount 0 is the identity.
float sCurve(float v, float amount) {
    const float s = v * v * (3.f - 2.f * v);
    return mixf(v, s, amount);
}

Rgb perChannel(Rgb c, const std::function<float(float)>& f) { return {f(c.r), f(c.g), f(c.b)}; }

Rgb warm(Rgb c) {
    c = {std::pow(c.r, 0.92f), c.g, std::pow(c.b, 1.12f)};
    return saturate(c, 1.08f);
}

Rgb cool(Rgb c) {
    c = {std::pow(c.r, 1.1f), std::pow(c.g, 0.98f), std::pow(c.b, 0.9f)};
    return saturate(c, 0.95f);
}

Rgb vivid(Rgb c) {
    c = saturate(c, 1.4f);
    return perChannel(c, [](float v) { return sCurve(clamp01(v), 0.35f); });
}

Rgb fade(Rgb c) {
    c = saturate(c, 0.7f);
    // Lifted blacks and softened whites, a touch warm.
    return {0.10f + 0.86f * c.r, 0.09f + 0.85f * c.g, 0.08f + 0.82f * c.b};
}

Rgb mono(Rgb c) {
    const float y = sCurve(clamp01(luma(c)), 0.25f);
    return {y, y, y};
}

Rgb film(Rgb c) {
    const float y = luma(c);
    c = saturate(c, 0.85f);
    c = perChannel(c, [](float v) { return sCurve(clamp01(v), 0.45f); });
    // Teal in the shadows, orange in the highlights.
    const float shadow = std::clamp(1.f - 2.f * y, 0.f, 1.f);
    const float highlight = std::clamp(2.f * y - 1.f, 0.f, 1.f);
    return {c.r - 0.05f * shadow + 0.06f * highlight, c.g + 0.02f * shadow + 0.02f * highlight,
            c.b + 0.05f * shadow - 0.06f * highlight};
}

Rgb sepia(Rgb c) {
    const float y = sCurve(clamp01(luma(c)), 0.15f);
    return {y * 1.07f + 0.03f, y * 0.95f + 0.02f, y * 0.78f};
}

const std::vector<Look>& looks() {
    static const std::vector<Look> all = {
        {"identity", "facelume identity", [](Rgb c) { return c; }},
        {"warm", "facelume warm", warm},
        {"cool", "facelume cool", cool},
        {"vivid", "facelume vivid", vivid},
        {"fade", "facelume fade", fade},
        {"mono", "facelume mono", mono},
        {"film", "facelume film", film},
        {"sepia", "facelume sepia", sepia},
    };
    return all;
}

bool writeLook(const Look& look, const std::filesystem::path& folder, int size) {
    const std::filesystem::path path = folder / (std::string(look.name) + ".cube");
    std::ofstream out(path, std::ios::binary);
    out << "# Written by facelume's make_luts.\n";
    out << "TITLE \"" << look.title << "\"\n";
    out << "LUT_3D_SIZE " << size << "\n";
    out << "DOMAIN_MIN 0.0 0.0 0.0\nDOMAIN_MAX 1.0 1.0 1.0\n";
    char line[64];
    const float step = 1.f / static_cast<float>(size - 1);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const Rgb c = look.map({r * step, g * step, b * step});
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", clamp01(c.r), clamp01(c.g),
                              clamp01(c.b));
                out << line;
            }
        }
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_luts: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_luts <output folder> [lattice size 2..65]\n");
        return 2;
    }
    const int size = argc == 3 ? std::atoi(argv[2]) : 33;
    if (size < 2 || size > 65) {
        std::fprintf(stderr, "make_luts: the lattice size must be 2..65\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "make_luts: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    for (const Look& look : looks()) {
        if (!writeLook(look, folder, size)) return 1;
    }
    return 0;
}
