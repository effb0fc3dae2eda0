// The wire values both sides derive names and lines from; the frame header check and the length
// prefix are exercised through the processing thread's and the channel's tests.

#include "protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform_safe_key.h"

namespace {

// Every name a channel uses, from its channel name. A native name is a prefix, the key's ASCII
// letters and the key's SHA-1: keys that differ only in dropped characters still differ.
TEST(ProtocolTest, NamesOfAChannel) {
    using namespace protocol;
    const std::string in = segmentKey(kDefaultReceiveName);
    const std::string out = segmentKey(kDefaultSendName);
    const std::pair<std::string, const char*> cases[] = {
        {in, "n2_sharedMemory"},
        {pipeName(kDefaultSendName), "n1_pipe"},
        {makePlatformSafeKey(in, kSharedMemoryKeyPrefix),
         "sm_sharedmemory_nsharedMemory541e926008c126835e08ea09a42a88511cdf18a7"},
        {makePlatformSafeKey(out, kSystemSemaphoreKeyPrefix),
         "ipc_systemsem_nsharedMemory8d32297215d2152763dc0fa1e794b403f4e448c7"},
        {notificationNativeName(notificationKey(in)),
         "qipc_systemsem_nsharedMemorysysd9c4c68e47be099ab394929e471406cbfb176b1c"},
        {notificationNativeName("a1 b"),
         "qipc_systemsem_ab55f04177caa6054c9417b8e6ad97bfa4480c4250"},
        {makePlatformSafeKey("A/b_C d-9", "p_"), "p_AbCd01e38d7d3b431a55987564827c6c672061f396dc"},
        {makePlatformSafeKey("", kSharedMemoryKeyPrefix), ""},
        {notificationNativeName(""), ""},
    };
    for (const auto& [made, expected] : cases) EXPECT_EQ(made, expected);
}

TEST(ProtocolTest, EnvelopeCarriesCommandsOfAtLeastOneByte) {
    EXPECT_EQ(protocol::commandLine("0 50"), "[CMD]0 50\n");
    EXPECT_EQ(protocol::commandOf("[CMD]0 50\r"), "0 50\r");
    EXPECT_EQ(protocol::commandOf(std::string_view("[CMD]\0z", 7)), std::string_view("\0z", 2));
    for (const char* line : {"[CMD]", "[cmd]0 50", " [CMD]0 50", ""})
        EXPECT_TRUE(protocol::commandOf(line).empty()) << line;
}

}  // namespace
