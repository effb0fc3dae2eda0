// The service wiring and callBackHandle, with a channel handle that records its calls and the
// recording engine. The wiring is once per process, so this is one scenario.

#include "service_wiring.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include <string>
#include <vector>

#include "ai_ipc_handle.h"
#include "call_back_handle.h"
#include "process_thread.h"
#include "recording_engine.h"
#include "sent_messages.h"

TEST(ServiceWiringTest, DropsDeliveriesUntilWiredThenStartsChannelAndThreadAndForwards) {
    RecordingEngine::reset();
    // Header 2 x 1, then six pixel bytes; the recording engine inverts the pixel bytes.
    const QByteArray input("\2\0\0\0\1\0\0\0\x28\x29\x2A\x2B\x2C\x2D", 14);
    const QByteArray processed("\2\0\0\0\1\0\0\0\xD7\xD6\xD5\xD4\xD3\xD2", 14);

    ASSERT_EQ(g_processThread, nullptr);
    callBackHandle unwired;
    unwired.onData(input.constData(), input.size());
    unwired.onCommand("0 50", 4);
    unwired.onMessage("sendDataSize:11");
    unwired.onEvent(1001, nullptr, 0);
    EXPECT_TRUE(RecordingEngine::calls().empty());

    wireService(QStringLiteral("wiring_r"), QStringLiteral("wiring_s"), 4096);
    ASSERT_NE(g_ipcHandle, nullptr);
    ASSERT_NE(g_processThread, nullptr);
    EXPECT_TRUE(g_processThread->isRunning());
    SentMessages& channel = *SentMessages::of(g_ipcHandle);
    EXPECT_EQ(channel.calls(), QStringList({"AiIpcHandle wiring_r wiring_s 4096 4096",
                                            "setCallback", "setPipeWaitForPeer 0", "start"}));

    AiIpcCallbackHandle* callback = channel.callback();
    ASSERT_NE(callback, nullptr);
    callback->onData(input.constData(), input.size());
    ASSERT_TRUE(channel.waitForMessages(1));
    // Diagnostic texts and pipe events change nothing; a command re-processes the frame.
    callback->onMessage("sendDataSize:14");
    callback->onEvent(1002, "x", 1);
    callback->onCommand("1 30", 4);
    ASSERT_TRUE(channel.waitForMessages(2));
    EXPECT_EQ(channel.messages(), QList<QByteArray>({processed, processed}));
    EXPECT_EQ(
        RecordingEngine::calls(),
        (std::vector<std::string>{"process 2 1 40", "modify_skin_smooth 0.3", "process 2 1 40"}));
}
