#include "command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CommandLineTest, NamesComeAsAPairAndTheSizeThird) {
    const struct {
        std::vector<const char*> arguments;
        const char* receive;
        const char* send;
        int size;
    } cases[] = {
        {{}, "n2", "n1", 921700},
        {{"only"}, "n2", "n1", 921700},
        {{"in", "out"}, "in", "out", 921700},
        {{"in", "out", "4096"}, "in", "out", 4096},
        {{"in", "out", "abc"}, "in", "out", 0},
        {{"in", "out", "12x"}, "in", "out", 0},
        {{"in", "out", "2048", "extra", "more"}, "in", "out", 2048},
        {{"caf\xc3\xa9", "out", "-5"}, "caf\xc3\xa9", "out", -5},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"facelume"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const CommandLine line = CommandLine::read(static_cast<int>(argv.size()), argv.data());
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(line.receiveName, QString::fromUtf8(c.receive));
        EXPECT_EQ(line.sendName, QString::fromUtf8(c.send));
        EXPECT_EQ(line.size, c.size);
    }
}

}  // namespace
