// The C API of the client SDK against the real service with the recording engine.

#include "facelume_client_c.h"

#include <gtest/gtest.h>

#include <string>

#include "client_test_support.h"

extern "C" const unsigned char* processFromC(facelume_client* client, const unsigned char* bgr,
                                             int width, int height, size_t stride);

namespace {

class ClientCTest : public ::testing::Test {
protected:
    ~ClientCTest() override { facelume_client_free(m_client); }

    EngineLog m_log;
    facelume_client* m_client = facelume_client_new();
};

// Which entry point reaches which control, a missing service and a frame too large: the Python
// binding's test, through these entry points.
TEST_F(ClientCTest, FramesRoundTripAndFailuresComeBackAsStatusAndText) {
    EXPECT_EQ(facelume_send_frame(nullptr, 1, 1, nullptr, 3), FACELUME_INVALID_ARGUMENT);
    EXPECT_NE(std::string(facelume_last_error(nullptr)).find("NULL"), std::string::npos);
    const unsigned char pixel[3] = {1, 2, 3};
    EXPECT_EQ(facelume_send_frame(m_client, 1, 1, pixel, 3), FACELUME_NOT_CONNECTED);
    EXPECT_STRNE(facelume_last_error(m_client), "");

    const facelume::ChannelOptions names = clienttest::serviceOptions().channel;
    ASSERT_EQ(facelume_start(m_client, FACELUME_RECORDING_SERVICE, names.receiveName.c_str(),
                             names.sendName.c_str(), 0, 0),
              FACELUME_OK)
        << facelume_last_error(m_client);
    EXPECT_EQ(facelume_capacity(m_client), 921700u);
    int width = -1;
    const unsigned char* out = pixel;
    EXPECT_EQ(facelume_receive_frame(m_client, 100, &width, nullptr, &out), FACELUME_TIMEOUT);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_STREQ(facelume_status_name(FACELUME_TIMEOUT), "timeout");

    // NULL turns an effect off. (A service the client started logs no reset of its own.)
    EXPECT_EQ(facelume_set_sticker(m_client, nullptr), FACELUME_OK);
    EXPECT_TRUE(m_log.waitFor("modify_sticker null"));
    const auto pixels = clienttest::makePixels(16, 9, 16 * 3 + 1, 7);
    out = processFromC(m_client, pixels.data(), 16, 9, 16 * 3 + 1);
    ASSERT_NE(out, nullptr) << facelume_last_error(m_client);
    EXPECT_TRUE(clienttest::isInverted(pixels, out, 16, 9, 16 * 3 + 1));
    // After a control, or a reset of all nine, the service sends its newest frame again: the next
    // call must not take that one for its result. Whether it comes before that call or during it
    // is up to timing: rounds.
    for (int round = 1; round <= 30; ++round) {
        const auto next = clienttest::makePixels(16, 9, 16 * 3, round);
        EXPECT_EQ(round % 2 ? facelume_set_skin_smooth(m_client, round / 100.f)
                            : facelume_reset(m_client),
                  FACELUME_OK);
        out = processFromC(m_client, next.data(), 16, 9, 16 * 3);
        EXPECT_TRUE(out != nullptr && clienttest::isInverted(next, out, 16, 9, 16 * 3)) << round;
    }
    // Closing, not only freeing, stops the service: nothing answers on the channel's names.
    facelume_close(m_client);
    EXPECT_EQ(facelume_connect(m_client, names.receiveName.c_str(), names.sendName.c_str(), 0, 100),
              FACELUME_TIMEOUT);
}

}  // namespace
