// The processing thread with a real thread, the recording engine and a recording channel handle.

#include "process_thread.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ai_ipc_handle.h"
#include "engine_calls.h"
#include "recording_engine.h"
#include "sent_messages.h"

namespace {

// Header (width, height) followed by width * height * 3 bytes counting up from first, then
// extra bytes of 0xEE.
QByteArray frame(std::int32_t width, std::int32_t height, unsigned char first, int extra = 0) {
    QByteArray bytes(reinterpret_cast<const char*>(&width), 4);
    bytes.append(reinterpret_cast<const char*>(&height), 4);
    const std::int64_t pixels = std::int64_t{width} * height * 3;
    for (std::int64_t i = 0; i < pixels; ++i) bytes.append(static_cast<char>(first + i));
    bytes.append(QByteArray(extra, '\xEE'));
    return bytes;
}

QByteArray header(std::int32_t width, std::int32_t height) {
    QByteArray bytes(reinterpret_cast<const char*>(&width), 4);
    return bytes.append(reinterpret_cast<const char*>(&height), 4);
}

// What the recording engine makes of a frame: the same header, every pixel byte inverted.
QByteArray processed(const QByteArray& input) {
    QByteArray output = input;
    for (int i = 8; i < output.size(); ++i) output[i] = static_cast<char>(255 - output[i]);
    return output;
}

std::string processCall(std::int32_t width, std::int32_t height, unsigned char first) {
    return "process " + std::to_string(width) + " " + std::to_string(height) + " " +
           std::to_string(first);
}

int countProcessCalls(const std::vector<std::string>& calls) {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const std::string& c) {
        return c.rfind("process ", 0) == 0;
    }));
}

// Collects warnings, which come from the processing thread.
struct Warnings {
    static QtMessageHandler previous;
    static QMutex mutex;
    static QStringList lines;

    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtWarningMsg) {
            QMutexLocker locker(&mutex);
            lines.append(text);
        }
        if (previous) previous(type, context, text);
    }
    static int count() {
        QMutexLocker locker(&mutex);
        return lines.size();
    }
};
QtMessageHandler Warnings::previous = nullptr;
QMutex Warnings::mutex;
QStringList Warnings::lines;

}  // namespace

class ProcessThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineCalls::reset();
        {
            QMutexLocker locker(&Warnings::mutex);
            Warnings::lines.clear();
        }
        Warnings::previous = qInstallMessageHandler(&Warnings::handler);
        m_thread = std::make_unique<ProcessThread>(&m_handle);
        m_thread->start();
    }

    void TearDown() override {
        recording_engine_hold_process(0);
        m_thread.reset();
        qInstallMessageHandler(Warnings::previous);
    }

    void push(const QByteArray& bytes) { m_thread->pushFrame(bytes.constData(), bytes.size()); }
    void command(const QByteArray& text) { m_thread->pushCommand(text.constData(), text.size()); }

    // Pushes two marker commands one after the other and waits until the engine got the second:
    // every pass that began before this call has then ended. Each marker's pass also processes
    // the newest frame again; the second marker's process call may still be on its way.
    void settle() {
        for (int i = 0; i < 2; ++i) {
            ++m_marker;
            command("3 " + QByteArray::number(100 * m_marker));
            ASSERT_TRUE(EngineCalls::waitForCall(markerCall(m_marker)));
        }
    }

    static std::string markerCall(int marker) {
        return "modify_shape_face_thin " + std::to_string(marker);
    }

    SentMessages& sent() { return *SentMessages::of(&m_handle); }

    AiIpcHandle m_handle{QStringLiteral("core_process_r"), QStringLiteral("core_process_s"), 0, 0};
    std::unique_ptr<ProcessThread> m_thread;
    int m_marker = 0;
};

TEST_F(ProcessThreadTest, SendsHeaderAndProcessedPixelsOfEachFrame) {
    const QByteArray first = frame(4, 2, 10);
    push(first);
    ASSERT_TRUE(sent().waitForMessages(1));
    EXPECT_EQ(sent().messages().at(0), processed(first));

    const QByteArray second = frame(4, 2, 99);
    push(second);
    ASSERT_TRUE(sent().waitForMessages(2));
    EXPECT_EQ(sent().messages().at(1), processed(second));
    EXPECT_EQ(EngineCalls::all(),
              (std::vector<std::string>{processCall(4, 2, 10), processCall(4, 2, 99)}));
}

TEST_F(ProcessThreadTest, CommandsBeforeAnyFrameRunWithoutProcessing) {
    command("0 50");
    ASSERT_TRUE(EngineCalls::waitFor(1));
    // A zero-length frame stores nothing: the wake-up finds no frame to process.
    m_thread->pushFrame("", 0);
    m_thread->pushFrame(nullptr, 0);
    settle();

    const std::vector<std::string> calls = EngineCalls::all();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "modify_skin_white 0.5");
    EXPECT_EQ(countProcessCalls(calls), 0);
    EXPECT_TRUE(sent().messages().isEmpty());
}

TEST_F(ProcessThreadTest, CommandOrEmptyFrameReprocessesNewestFrame) {
    const QByteArray input = frame(2, 3, 7);
    push(input);
    ASSERT_TRUE(sent().waitForMessages(1));

    command("1 25");
    ASSERT_TRUE(sent().waitForMessages(2));
    m_thread->pushFrame(nullptr, 0);
    ASSERT_TRUE(sent().waitForMessages(3));

    for (const QByteArray& message : sent().messages()) EXPECT_EQ(message, processed(input));
    EXPECT_EQ(EngineCalls::all(),
              (std::vector<std::string>{processCall(2, 3, 7), "modify_skin_smooth 0.25",
                                        processCall(2, 3, 7), processCall(2, 3, 7)}));
}

TEST_F(ProcessThreadTest, LatestCommandPerIdRunsOnceBeforeTheNextFrame) {
    recording_engine_hold_process(1);
    push(frame(1, 1, 1));
    ASSERT_TRUE(EngineCalls::waitFor(1));

    // All of these arrive while the engine is busy with the first frame.
    command("0 10");
    command("5 616263");
    command("0 20");
    command("1 30");
    command("1 40");
    push(frame(1, 1, 2));
    recording_engine_hold_process(0);
    ASSERT_TRUE(sent().waitForMessages(2));

    std::vector<std::string> calls = EngineCalls::all();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls.front(), processCall(1, 1, 1));
    EXPECT_EQ(calls.back(), processCall(1, 1, 2));
    std::vector<std::string> modifies(calls.begin() + 1, calls.end() - 1);
    std::sort(modifies.begin(), modifies.end());
    EXPECT_EQ(modifies, (std::vector<std::string>{"modify_skin_smooth 0.4", "modify_skin_white 0.2",
                                                  "modify_sticker \"abc\""}));
}

TEST_F(ProcessThreadTest, FramesArrivingDuringProcessingCollapseToTheNewest) {
    recording_engine_hold_process(1);
    push(frame(2, 2, 1));
    ASSERT_TRUE(EngineCalls::waitFor(1));

    const QByteArray newest = frame(2, 2, 4);
    push(frame(2, 2, 2));
    push(frame(2, 2, 3));
    push(newest);
    recording_engine_hold_process(0);
    ASSERT_TRUE(sent().waitForMessages(2));
    settle();
    ASSERT_TRUE(sent().waitForMessages(4));

    // Three arrivals woke the thread for one pass, which processed only the newest frame; each
    // marker command's pass processed it again.
    EXPECT_EQ(EngineCalls::all(), (std::vector<std::string>{
                                      processCall(2, 2, 1), processCall(2, 2, 4), markerCall(1),
                                      processCall(2, 2, 4), markerCall(2), processCall(2, 2, 4)}));
    EXPECT_EQ(sent().messages().size(), 4);
    EXPECT_EQ(sent().messages().at(1), processed(newest));
}

TEST_F(ProcessThreadTest, ShorterFrameOverwritesTheStartOfTheLargerSlot) {
    const QByteArray large = frame(4, 4, 0);
    push(large);
    ASSERT_TRUE(sent().waitForMessages(1));
    EXPECT_EQ(sent().messages().at(0).size(), large.size());

    const QByteArray small = frame(2, 1, 200);
    push(small);
    ASSERT_TRUE(sent().waitForMessages(2));

    // The output keeps the largest length; only header and width * height * 3 bytes count.
    const QByteArray output = sent().messages().at(1);
    ASSERT_EQ(output.size(), large.size());
    EXPECT_EQ(output.left(small.size()), processed(small));
    EXPECT_EQ(EngineCalls::all().back(), processCall(2, 1, 200));
}

TEST_F(ProcessThreadTest, ProcessReturningZeroSendsNothing) {
    recording_engine_set_process_result(0);
    push(frame(3, 1, 5));
    ASSERT_TRUE(EngineCalls::waitFor(1));
    settle();
    ASSERT_TRUE(EngineCalls::waitFor(5));  // the second marker's pass processed the frame too
    EXPECT_TRUE(sent().messages().isEmpty());

    recording_engine_set_process_result(1);
    command("2 40");
    ASSERT_TRUE(sent().waitForMessages(1));
    EXPECT_EQ(sent().messages().at(0), processed(frame(3, 1, 5)));
    EXPECT_EQ(countProcessCalls(EngineCalls::all()), 4);
}

TEST_F(ProcessThreadTest, FramesThatDoNotFitTheirHeaderNeverReachTheEngine) {
    QByteArray overflowing = header(65536, 65536);
    overflowing.append(QByteArray(12, '\1'));
    const QByteArray rejected[] = {
        QByteArray("\1\0\0\0\1", 5),  // shorter than a header
        header(0, 1),
        header(1, -1),
        header(-2, -2),
        overflowing,                           // width * height * 3 beyond 32 bits
        header(4, 4) + frame(1, 1, 0).mid(8),  // 4 x 4 pixels announced, one pixel sent
    };
    for (const QByteArray& bytes : rejected) {
        push(bytes);
        settle();
    }
    EXPECT_EQ(countProcessCalls(EngineCalls::all()), 0);
    EXPECT_TRUE(sent().messages().isEmpty());
    EXPECT_EQ(Warnings::count(), 1);

    // A fitting frame is processed again, and the next misfit warns again.
    const QByteArray fitting = frame(1, 1, 9, 8);
    push(fitting);
    ASSERT_TRUE(sent().waitForMessages(1));
    EXPECT_EQ(sent().messages().at(0).left(11), processed(fitting).left(11));
    push(header(5, 5));
    settle();
    EXPECT_EQ(Warnings::count(), 2);
    for (const QByteArray& message : sent().messages()) EXPECT_EQ(message.left(8), header(1, 1));
}

TEST_F(ProcessThreadTest, FrameFittingTheLargerSlotIsProcessed) {
    // The slot keeps the largest length, so a header that outgrows its own frame but fits the
    // slot only reads bytes of earlier frames.
    push(frame(2, 2, 0));
    ASSERT_TRUE(sent().waitForMessages(1));
    push(header(2, 1));
    ASSERT_TRUE(sent().waitForMessages(2));
    EXPECT_EQ(sent().messages().at(1).size(), 20);
    EXPECT_EQ(sent().messages().at(1).left(8), header(2, 1));
}

TEST(ProcessThreadWithoutChannel, ProcessesWithoutSending) {
    EngineCalls::reset();
    ProcessThread thread(nullptr);
    thread.start();
    const QByteArray input = frame(1, 2, 3);
    thread.pushFrame(input.constData(), input.size());
    ASSERT_TRUE(EngineCalls::waitFor(1));
    EXPECT_EQ(EngineCalls::all().front(), processCall(1, 2, 3));
}
