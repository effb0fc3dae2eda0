// The reader of the engine's YAML tables: what it takes, and each malformed line refused with
// its number, including a file that hangs OpenCV's own parser.

#include <gtest/gtest.h>

#include "table_file.h"

using facelume::TableFile;

TEST(TableFileTest, ReadsKeysListsAndOneLevelOfMapsAndRefusesAnythingElseByLine) {
    TableFile table;
    std::string error;
    ASSERT_TRUE(
        table.parse("%YAML:1.0\r\n---\r\n# note\nanchor: [ 36, 45 ]  # eyes\nwidth: 1.5\n"
                    "colors:\n   red: \"#c41e3a\" # lips\n   rose: \"pink #2\"\nempty: []\n",
                    error))
        << error;
    ASSERT_EQ(table.entries().size(), 4u);
    EXPECT_EQ(table.find("anchor")->values, (std::vector<std::string>{"36", "45"}));
    EXPECT_EQ(table.find("width")->values.front(), "1.5");
    const TableFile::Entry* colors = table.find("colors");
    ASSERT_TRUE(colors && colors->isMap && colors->children.size() == 2u);
    EXPECT_EQ(colors->children[0].values.front(), "#c41e3a");
    EXPECT_EQ(colors->children[1].values.front(), "pink #2");
    EXPECT_TRUE(table.find("empty")->list && table.find("empty")->values.empty());

    const std::pair<const char*, const char*> refused[] = {
        {"%YAML:1.0\n d%YAML:1.0\n---\n-", "line 2: an indented line outside a map"},
        {"a: 1\n---\n", "line 2: expected \"key: value\""},
        {"a:\n  b:\n", "line 2: \"b\" has a value"},
        {"a: 1\nb: [1, 2\n", "line 2: \"b\" has a value"},
        {"a: [1,, 2]\n", "line 1: \"a\" has a value"},
        {"a: \"x\"y\"\n", "line 1: \"a\" has a value"},
        {"a: 1\na: 2\n", "line 2: \"a\" given twice"},
        {"a:\n\tb: 1\n", "line 2: tabs"},
        {"just words\n", "line 1: expected \"key: value\""},
    };
    for (const auto& [text, message] : refused) {
        EXPECT_FALSE(table.parse(text, error)) << text;
        EXPECT_EQ(error.rfind(message, 0), 0u) << error;
        EXPECT_TRUE(table.entries().empty());
    }
    EXPECT_EQ(TableFile::number("-1.5e1"), -15.0);
    for (const char* text : {"", "1.5x", "nan", "inf", "1,5"})
        EXPECT_FALSE(TableFile::number(text));
    EXPECT_EQ(TableFile::integer("67"), 67);
    EXPECT_FALSE(TableFile::integer("6.7"));
}
