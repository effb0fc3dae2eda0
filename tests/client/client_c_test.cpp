// The C API of the client SDK against the real service with the recording engine.

#include "facelume_client_c.h"

#include <gtest/gtest.h>

#include <string>

#include "client_test_support.h"

extern "C" int processOneFrameFromC(facelume_client* client, int width, int height);

namespace {

class ClientCTest : public ::testing::Test {
protected:
    void SetUp() override { m_client = facelume_client_new(); }
    void TearDown() override { facelume_client_free(m_client); }

    facelume_status start() {
        m_names = clienttest::uniqueNames();
        return facelume_start(m_client, FACELUME_RECORDING_SERVICE, m_names.receive.c_str(),
                              m_names.send.c_str(), 0, 0);
    }

    EngineLog m_log;
    clienttest::Names m_names;
    facelume_client* m_client = nullptr;
};

TEST_F(ClientCTest, FramesRoundTripAndControlsReachTheEngine) {
    ASSERT_EQ(start(), FACELUME_OK) << facelume_last_error(m_client);
    EXPECT_EQ(facelume_capacity(m_client), 921700u);
    EXPECT_STREQ(facelume_last_error(m_client), "");

    // A frame with padded rows, from C: the bytes it gets back differ from the inverted input in
    // none of its places.
    EXPECT_EQ(processOneFrameFromC(m_client, 16, 9), 0);

    // The full table of controls is checked through the C++ API: here one of each kind.
    EXPECT_EQ(facelume_set_skin_smooth(m_client, 0.25f), FACELUME_OK);
    EXPECT_EQ(facelume_set_sticker(m_client, nullptr), FACELUME_OK);
    EXPECT_EQ(facelume_set_eyebrow(m_client, "dark", 0.45f), FACELUME_OK);
    EXPECT_EQ(facelume_set_cheeks(m_client, nullptr, 0.6f), FACELUME_OK);
    for (const char* line : {"modify_skin_smooth 0.25", "modify_sticker null",
                             "modify_makeup_eyebrow \"dark\" 0.45", "modify_makeup_cheeks null 0"}) {
        EXPECT_TRUE(m_log.waitFor(line)) << line;
    }

    EXPECT_STREQ(facelume_available_names(m_client, FACELUME_NAMES_FILTER), "cool, warm");
    EXPECT_EQ(facelume_set_filter(m_client, "sparkle", 1.f), FACELUME_INVALID_ARGUMENT);
    EXPECT_NE(std::string(facelume_last_error(m_client)).find(": cool, warm"), std::string::npos)
        << facelume_last_error(m_client);
    EXPECT_EQ(facelume_reset(m_client), FACELUME_OK);
    EXPECT_TRUE(m_log.waitFor("modify_makeup_eyebrow null 0"));
}

TEST_F(ClientCTest, FailuresComeBackAsStatusAndText) {
    EXPECT_EQ(facelume_send_frame(nullptr, 1, 1, nullptr, 3), FACELUME_INVALID_ARGUMENT);
    EXPECT_NE(std::string(facelume_last_error(nullptr)).find("NULL"), std::string::npos);

    const unsigned char pixel[3] = {1, 2, 3};
    EXPECT_EQ(facelume_send_frame(m_client, 1, 1, pixel, 3), FACELUME_NOT_CONNECTED);
    EXPECT_STRNE(facelume_last_error(m_client), "");

    EXPECT_EQ(facelume_start(m_client, "/nonexistent/facelume", "a", "b", 0, 0),
              FACELUME_SERVICE_NOT_FOUND);
    EXPECT_NE(std::string(facelume_last_error(m_client)).find("/nonexistent"), std::string::npos);

    ASSERT_EQ(start(), FACELUME_OK);
    EXPECT_EQ(facelume_send_frame(m_client, 1000, 1000, pixel, 3000), FACELUME_FRAME_TOO_LARGE);
    int width = -1;
    const unsigned char* out = pixel;
    EXPECT_EQ(facelume_receive_frame(m_client, 100, &width, nullptr, &out), FACELUME_TIMEOUT);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_STREQ(facelume_status_name(FACELUME_TIMEOUT), "timeout");
    EXPECT_NE(std::string(facelume_service_output(m_client)).find("initSuccess"),
              std::string::npos);

    facelume_close(m_client);
    EXPECT_EQ(clienttest::leftovers(m_names), "");
    EXPECT_EQ(facelume_capacity(m_client), 0u);
    EXPECT_EQ(facelume_connect(m_client, m_names.receive.c_str(), m_names.send.c_str(), 0, 100),
              FACELUME_TIMEOUT);
}

}  // namespace
