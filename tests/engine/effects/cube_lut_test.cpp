#include "cube_lut.h"

#include <gtest/gtest.h>

#include <sstream>

#include "color_table.h"
#include "test_pictures.h"

namespace facelume {
namespace {

LoadResult parseText(CubeLut& lut, const std::string& text) {
    std::istringstream in(text);
    return lut.parse(in, "test.cube");
}

// A size-2 table whose corners are the inverted input colours.
const char* const kInvertTable = "1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n";

TEST(CubeLutTest, ReadsWhatGradingToolsWrite) {
    CubeLut lut;
    const std::string text = std::string("\xEF\xBB\xBF# exported by a grading tool\r\n") +
                             "TITLE \"Night \"blue\"\"\r\n"
                             "LUT_3D_SIZE 2\r\n"
                             "LUT_IN_VIDEO_RANGE\r\n"
                             "DOMAIN_MIN 0 0 0\r\n"
                             "DOMAIN_MAX 1.0 1.0 +1e0\r\n"
                             "\r\n"
                             "1 1 1\r\n0 1 1\r\n1 0 1  # trailing comment\r\n0 0 1\r\n"
                             "\t1 1 0\r\n0 1 0\r\n1 0 0\r\n0.0 0.0 0.0";
    const LoadResult result = parseText(lut, text);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(lut.size(), 2);
    EXPECT_EQ(lut.title(), "Night \"blue\"");
    for (int r = 0; r < 2; ++r)  // red runs fastest; each corner is the inverted colour
        for (int g = 0; g < 2; ++g)
            for (int b = 0; b < 2; ++b) EXPECT_EQ(lut.at(r, g, b), cv::Vec3f(1 - r, 1 - g, 1 - b));

    ASSERT_TRUE(
        parseText(lut, std::string("LUT_3D_INPUT_RANGE -0.5 2\nLUT_3D_SIZE 2\n") + kInvertTable)
            .ok());
    EXPECT_EQ(lut.domainMin(), cv::Vec3f::all(-0.5f));
    EXPECT_EQ(lut.domainMax(), cv::Vec3f::all(2.f));
}

// The grading tables and the make-up colour table.
TEST(CubeLutTest, MalformedTablesAreRefusedNamingTheFileAndLine) {
    const std::string table = kInvertTable;
    const struct {
        std::string text;
        std::string message;
        const char* file = "test.cube";
    } cases[] = {
        {"", "line 0: no LUT_3D_SIZE"},
        {"TITLE \"x\"\n" + table, "line 2: table data before LUT_3D_SIZE"},
        {"LUT_3D_SIZE 1\n", "line 1: LUT_3D_SIZE must be a whole number from 2 to 256"},
        {"LUT_3D_SIZE 2.5\n", "line 1: LUT_3D_SIZE must be a whole number"},
        {"LUT_3D_SIZE 300\n", "line 1: LUT_3D_SIZE must be a whole number"},
        {"LUT_3D_SIZE 2\nLUT_3D_SIZE 2\n", "line 2: LUT_3D_SIZE given twice"},
        {"LUT_1D_SIZE 1024\n", "line 1: 1D tables are not supported"},
        {"LUT_3D_SIZE 2\n1 1 1\n0 1 1\n", "the table ends after 2 of 8 lines"},
        {"LUT_3D_SIZE 2\n" + table + "0 0 0\n", "line 10: more than the 8 table lines"},
        {"LUT_3D_SIZE 2\n1 1\n", "line 2: expected three numbers, found \"1 1\""},
        {"LUT_3D_SIZE 2\n1 1 1 1\n", "line 2: expected three numbers"},
        {"LUT_3D_SIZE 2\n1,0 1 1\n", "line 2: expected three numbers"},
        {"LUT_3D_SIZE 2\n1 nan 1\n", "line 2: expected three numbers"},
        {"LUT_3D_SIZE 2\n1 1 1\nDOMAIN_MIN 0 0 0\n", "line 3: keyword after the table data"},
        {"DOMAIN_MIN 0 0\nLUT_3D_SIZE 2\n" + table, "line 1: DOMAIN_MIN needs three numbers"},
        {"DOMAIN_MIN 0 0.5 0\nDOMAIN_MAX 1 0.5 1\nLUT_3D_SIZE 2\n" + table,
         "DOMAIN_MIN must be below DOMAIN_MAX"},
        {"LUT_3D_INPUT_RANGE 0\nLUT_3D_SIZE 2\n" + table, "line 1: LUT_3D_INPUT_RANGE needs two"},
        {"LUT_3D_INPUT_RANGE 0 1\nDOMAIN_MAX 1 1 1\nLUT_3D_SIZE 2\n" + table,
         "both LUT_3D_INPUT_RANGE and DOMAIN_MIN/DOMAIN_MAX"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "no LUT_3D_SIZE"},
        {"", "missing.cube: cannot be opened", nullptr},
        {"%YAML:1.0\n---\nshades:\n   red: \"#ff0000\"\n", "no map named \"colors\"", "colors.yml"},
        {"%YAML:1.0\n---\ncolors:\n   red: \"#ff00\"\n", "colour \"red\" is not \"#rrggbb\"",
         "colors.yml"},
        {"%YAML:1.0\n---\ncolors:\n   red: 12\n", "colour \"red\" is not", "colors.yml"},
        {"%YAML:1.0\n---\ncolors: [\n", "not a readable colour table", "colors.yml"},
        {"", "missing.yml: no such file", nullptr},
    };
    const ScratchFolder folder;
    for (const auto& c : cases) {
        const std::string path =
            c.file ? folder.write(c.file, c.text)
                   : folder.path() + "/" + c.message.substr(0, c.message.find(':'));
        CubeLut lut;
        ColorTable colours;
        const bool cube = path.find(".cube") != std::string::npos;
        const LoadResult result = cube ? lut.load(path) : colours.load(path);
        EXPECT_NE(result.error.find(path), std::string::npos) << c.text;
        EXPECT_NE(result.error.find(c.message), std::string::npos)
            << "expected \"" << c.message << "\" in \"" << result.error << "\"";
        EXPECT_TRUE(lut.empty());
        EXPECT_EQ(colours.listing(), "none");
        EXPECT_TRUE(colours.find("#ff0000")) << "hex colours work without a table";
    }
}

}  // namespace
}  // namespace facelume
