// The service wiring and callBackHandle, with a channel handle that records its calls and the
// recording engine. Each test runs in its own process (the wiring is once per process).

#include "service_wiring.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

#include "ai_ipc_handle.h"
#include "call_back_handle.h"
#include "engine_calls.h"
#include "process_thread.h"
#include "sent_messages.h"

namespace {

QByteArray frame(std::int32_t width, std::int32_t height, unsigned char first) {
    QByteArray bytes(reinterpret_cast<const char*>(&width), 4);
    bytes.append(reinterpret_cast<const char*>(&height), 4);
    for (int i = 0; i < width * height * 3; ++i) bytes.append(static_cast<char>(first + i));
    return bytes;
}

QByteArray processed(QByteArray bytes) {
    for (int i = 8; i < bytes.size(); ++i) bytes[i] = static_cast<char>(255 - bytes[i]);
    return bytes;
}

}  // namespace

TEST(CallBackHandleTest, DropsEverythingWhileThereIsNoProcessingThread) {
    EngineCalls::reset();
    ASSERT_EQ(g_processThread, nullptr);
    callBackHandle callback;
    const QByteArray input = frame(1, 1, 0);
    callback.onData(input.constData(), input.size());
    callback.onCommand("0 50", 4);
    callback.onMessage("sendDataSize:11");
    callback.onEvent(1001, nullptr, 0);
    EXPECT_TRUE(EngineCalls::all().empty());
}

TEST(ServiceWiringTest, StartsTheChannelThenTheThreadAndForwardsDeliveries) {
    EngineCalls::reset();
    wireService(QStringLiteral("wiring_r"), QStringLiteral("wiring_s"), 4096);

    ASSERT_NE(g_ipcHandle, nullptr);
    ASSERT_NE(g_processThread, nullptr);
    EXPECT_TRUE(g_processThread->isRunning());
    SentMessages& channel = *SentMessages::of(g_ipcHandle);
    EXPECT_EQ(channel.calls(), QStringList({"AiIpcHandle wiring_r wiring_s 4096 4096",
                                            "setCallback", "setPipeWaitForPeer 0", "start"}));

    AiIpcCallbackHandle* callback = channel.callback();
    ASSERT_NE(callback, nullptr);
    const QByteArray input = frame(2, 1, 40);
    callback->onData(input.constData(), input.size());
    ASSERT_TRUE(channel.waitForMessages(1));
    EXPECT_EQ(channel.messages().at(0), processed(input));

    // Diagnostic texts and pipe events change nothing; a command re-processes the frame.
    callback->onMessage("sendDataSize:14");
    callback->onEvent(1002, "x", 1);
    callback->onCommand("1 30", 4);
    ASSERT_TRUE(channel.waitForMessages(2));
    EXPECT_EQ(
        EngineCalls::all(),
        (std::vector<std::string>{"process 2 1 40", "modify_skin_smooth 0.3", "process 2 1 40"}));
    EXPECT_EQ(channel.messages().at(1), processed(input));
}
