#include "color_table.h"

#include <gtest/gtest.h>

#include "test_pictures.h"

namespace facelume {
namespace {

using namespace facelume::test;

TEST(ColorTableTest, ShippedTableListsItsNamesInOrder) {
    ColorTable table;
    const LoadResult shipped = table.load(TestPictures::resourceFolder() + "/makeup/colors.yml");
    ASSERT_TRUE(shipped.ok()) << shipped.error;
    for (const char* name : {"coral", "peach", "black"}) EXPECT_TRUE(table.find(name)) << name;
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
