#include "color_table.h"

#include <gtest/gtest.h>

#include "looks_test_support.h"

namespace facelume {
namespace {

using testing::ScratchFolder;

TEST(ColorTableTest, HexAndNamedColours) {
    EXPECT_EQ(ColorTable::parseHex("#ff8000"), cv::Vec3b(0, 0x80, 0xff));
    EXPECT_EQ(ColorTable::parseHex("#A0b0C0"), cv::Vec3b(0xc0, 0xb0, 0xa0));
    for (const char* bad : {"ff8000", "#ff800", "#ff80000", "#gg8000", "", "#"}) {
        EXPECT_FALSE(ColorTable::parseHex(bad)) << bad;
    }

    ColorTable table;
    const LoadResult shipped = table.load(testing::kBuiltResources + "/makeup/colors.yml");
    ASSERT_TRUE(shipped.ok()) << shipped.error;
    for (const char* name : {"red", "coral", "pink", "berry", "peach", "brown", "black"}) {
        EXPECT_TRUE(table.find(name)) << name;
    }
    EXPECT_EQ(table.find("RED"), table.find("red"));
    EXPECT_EQ(table.find("#010203"), cv::Vec3b(3, 2, 1));
    EXPECT_FALSE(table.find("ultraviolet"));
    EXPECT_NE(table.listing().find("berry, black"), std::string::npos) << table.listing();
}

TEST(ColorTableTest, RefusesBrokenTables) {
    ScratchFolder folder;
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"%YAML:1.0\n---\nshades:\n   red: \"#ff0000\"\n", "no map named \"colors\""},
        {"%YAML:1.0\n---\ncolors:\n   red: \"#ff00\"\n", "colour \"red\" is not \"#rrggbb\""},
        {"%YAML:1.0\n---\ncolors:\n   red: 12\n", "colour \"red\" is not"},
        {"%YAML:1.0\n---\ncolors: [\n", "not a readable colour table"},
    };
    for (const auto& c : cases) {
        const std::string path = folder.write("colors.yml", c.text);
        ColorTable table;
        const LoadResult result = table.load(path);
        EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
        EXPECT_EQ(table.listing(), "none");
        EXPECT_TRUE(table.find("#ff0000")) << "hex colours work without a table";
    }
    ColorTable table;
    EXPECT_NE(table.load(folder.path() + "/missing.yml").error.find("no such file"),
              std::string::npos);
}

}  // namespace
}  // namespace facelume
