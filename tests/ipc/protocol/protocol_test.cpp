// The wire values both sides derive names and lines from; the frame header check and the length
// prefix are exercised through the processing thread's and the channel's tests.

#include "protocol.h"

#include <gtest/gtest.h>

namespace {

TEST(ProtocolTest, NamesOfTheDefaultChannel) {
    const std::string in = protocol::segmentKey(protocol::kDefaultReceiveName);
    EXPECT_EQ(in, "n2_sharedMemory");
    EXPECT_EQ(protocol::pipeName(protocol::kDefaultSendName), "n1_pipe");
    EXPECT_EQ(protocol::notificationNativeName(protocol::notificationKey(in)),
              "qipc_systemsem_nsharedMemorysysd9c4c68e47be099ab394929e471406cbfb176b1c");
    // Other bytes drop out of the letters, but the digest covers them.
    EXPECT_EQ(protocol::notificationNativeName("a1 b"),
              "qipc_systemsem_ab55f04177caa6054c9417b8e6ad97bfa4480c4250");
    EXPECT_EQ(protocol::notificationNativeName(""), "");
}

TEST(ProtocolTest, EnvelopeCarriesCommandsOfAtLeastOneByte) {
    EXPECT_EQ(protocol::commandLine("0 50"), "[CMD]0 50\n");
    EXPECT_EQ(protocol::commandOf("[CMD]0 50\r"), "0 50\r");
    EXPECT_EQ(protocol::commandOf(std::string_view("[CMD]\0z", 7)), std::string_view("\0z", 2));
    for (const char* line : {"[CMD]", "[cmd]0 50", " [CMD]0 50", ""})
        EXPECT_TRUE(protocol::commandOf(line).empty()) << line;
}

}  // namespace
