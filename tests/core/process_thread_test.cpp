// The processing thread with a real thread, the recording engine and a test build of the channel
// handle that records what is sent.

#include "process_thread.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ai_ipc_handle.h"
#include "engine_log.h"
#include "recording_engine.h"
#include "test_application.h"
#include "test_frames.h"

namespace {

using Calls = std::vector<std::string>;

// Warnings logged while a ProcessThreadTest runs, from any thread.
std::atomic<int> g_warnings{0};

void countWarnings(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtWarningMsg) ++g_warnings;
}

// Every message the channel handle below was handed to send since the newest handle was made, and
// what it answers when asked whether control input is pending. Standard library locks, which
// ThreadSanitizer follows: send comes from the processing thread.
struct SentMessages {
    mutable std::mutex mutex;
    mutable std::condition_variable sent;
    QList<QByteArray> all;
    std::atomic<bool> controlInputPending{false};

    QList<QByteArray> messages() const {
        const std::lock_guard<std::mutex> lock(mutex);
        return all;
    }
    // Waits (5 s at most) until count messages were sent; false when they did not come.
    [[nodiscard]] bool waitForMessages(int count) const {
        std::unique_lock<std::mutex> lock(mutex);
        return sent.wait_for(lock, std::chrono::seconds(5), [&] { return all.size() >= count; });
    }
};

// Never destroyed: the processing thread may still send while the process exits.
SentMessages& sent() {
    static SentMessages* const record = new SentMessages;
    return *record;
}

}  // namespace

// The test build of the channel handle, of what the processing thread calls: it opens nothing and
// keeps every message handed to send. This program links it instead of facelume_ipc.
AiIpcHandle::AiIpcHandle(const QString&, const QString&, int, int) : m_ipc(nullptr) {
    const std::lock_guard<std::mutex> lock(sent().mutex);
    sent().all.clear();
    sent().controlInputPending = false;
}

AiIpcHandle::~AiIpcHandle() = default;

bool AiIpcHandle::controlInputPending() const { return sent().controlInputPending; }

void AiIpcHandle::readControlInput() {}

// Keeps the message as a client would read it, with zero bytes past head and body.
bool AiIpcHandle::send(const char* head, int headSize, const char* body, int bodySize, int size) {
    QByteArray message(head, headSize);
    message.append(body, bodySize);
    if (message.size() < size) message.append(QByteArray(size - message.size(), '\0'));
    const std::lock_guard<std::mutex> lock(sent().mutex);
    sent().all.append(message);
    sent().sent.notify_all();
    return true;
}

class ProcessThreadTest : public ::testing::Test {
protected:
    // Commands wake the thread through the main thread's events, as in the service.
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override {
        g_warnings = 0;
        qInstallMessageHandler(&countWarnings);
        RecordingEngine::reset();
        m_thread = std::make_unique<ProcessThread>(&m_handle);
        m_thread->start();
    }

    void TearDown() override {
        RecordingEngine::holdProcess(false);
        m_thread.reset();
        qInstallMessageHandler(nullptr);
    }

    void push(const QByteArray& bytes) { m_thread->pushFrame(bytes.constData(), bytes.size()); }
    // As the service's main thread: a line, then back to the event loop, which wakes the thread.
    void command(const QByteArray& text) {
        m_thread->pushCommand(text.constData(), text.size());
        QCoreApplication::sendPostedEvents();
    }

    // Pushes two marker commands one after the other and waits until the engine got the second:
    // every pass that began before this call has then ended. Each marker's pass also processes
    // the newest frame again; the second marker's process call may still be on its way.
    void settle() {
        for (int i = 0; i < 2; ++i) {
            command("3 " + QByteArray::number(100 * ++m_marker));
            ASSERT_TRUE(m_log.waitFor(markerCall(m_marker)));
        }
    }
    static std::string markerCall(int marker) {
        return "modify_shape_face_thin " + std::to_string(marker);
    }
    // The calls from the first `first` on; none when it was not made.
    Calls callsFrom(const std::string& first) const {
        const Calls calls = m_log.lines();
        return Calls(std::find(calls.begin(), calls.end(), first), calls.end());
    }

    EngineLog m_log;
    AiIpcHandle m_handle{QStringLiteral("core_process_r"), QStringLiteral("core_process_s"), 0, 0};
    std::unique_ptr<ProcessThread> m_thread;
    int m_marker = 0;
};

TEST(ProcessThreadCommandTest, EachCommandReachesTheEngineAsExpected) {
    const struct {
        const char* command;
        Calls calls;
    } cases[] = {
        {"1 1.5", {"modify_skin_smooth 0"}},
        {"2 40|x|y", {"modify_shape_eye_scale 0.4"}},
        {"6 |50", {"modify_makeup_lipstick null 0"}},
        {"7 00|50", {"modify_makeup_cheeks null 0"}},
        {"8 4142|-300|9", {"modify_makeup_eyebrow \"AB\" -3"}},
        {"5 ", {"modify_sticker null"}},
        {"5 e282ac", {"modify_sticker \"\xE2\x82\xAC\""}},
        {"5 ff41", {"modify_sticker \"\357\277\275A\""}},  // U+FFFD, then A
        {"5 0a22", {"modify_sticker \"\\x0A\\x22\""}},
        {"x 30", {"modify_skin_white 0.3"}},
        {"8 ", {}},
        {"9 50", {}},
        {"-1 50", {}},
        {" 0 50", {}},
    };
    AiIpcHandle handle(QStringLiteral("core_command_r"), QStringLiteral("core_command_s"), 0, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const EngineLog log;
        RecordingEngine::reset();
        {
            ProcessThread thread(&handle);  // ends after a pass that saw everything pushed before
            thread.start();
            thread.pushCommand(c.command, static_cast<int>(std::strlen(c.command)));
        }
        EXPECT_EQ(log.lines(), c.calls);
    }
}

// The slot keeps the largest frame length: shorter frames overwrite its start, the message has
// the slot's length, and a bare header that fits the slot reads the bytes of earlier frames.
TEST_F(ProcessThreadTest, FramesCommandsAndEmptyFramesEachSendTheNewestFrame) {
    const QByteArray large = makeFrame(4, 2, 10);
    push(large);
    ASSERT_TRUE(sent().waitForMessages(1));
    command("1 25");
    ASSERT_TRUE(sent().waitForMessages(2));
    push(QByteArray());
    ASSERT_TRUE(sent().waitForMessages(3));
    for (const QByteArray& message : sent().messages()) EXPECT_EQ(message, invertedFrame(large));

    const QByteArray small = makeFrame(2, 1, 200);
    push(small);
    ASSERT_TRUE(sent().waitForMessages(4));
    push(frameHeader(2, 1));
    ASSERT_TRUE(sent().waitForMessages(5));
    const QList<QByteArray> messages = sent().messages();
    for (const int i : {3, 4}) {
        EXPECT_EQ(messages.at(i).size(), large.size());
        EXPECT_EQ(messages.at(i).left(small.size()), invertedFrame(small));
    }
    EXPECT_EQ(m_log.lines(), (Calls{"process 4 2 10", "modify_skin_smooth 0.25", "process 4 2 10",
                                    "process 4 2 10", "process 2 1 200", "process 2 1 200"}));
}

// Nothing is sent before there is a frame, nor while the engine reports failure.
TEST_F(ProcessThreadTest, NothingIsSentWithoutAFrameOrAProcessedOne) {
    command("0 50");
    ASSERT_TRUE(m_log.waitFor("modify_skin_white 0.5"));
    push(QByteArray());  // a zero-length frame stores nothing
    settle();
    EXPECT_EQ(m_log.lines(), (Calls{"modify_skin_white 0.5", markerCall(1), markerCall(2)}));

    RecordingEngine::setProcessResult(0);
    push(makeFrame(3, 1, 5));
    ASSERT_TRUE(m_log.waitFor("process 3 1 5"));
    settle();
    // The second marker's pass processes the frame too. (The pass of the marker before the frame
    // may have processed it as well: the count of calls says nothing.)
    ASSERT_TRUE(
        processEventsUntil([&] { return callsFrom(markerCall(m_marker)).size() >= 2; }, 5000));
    EXPECT_TRUE(sent().messages().isEmpty());

    // While control input is pending, a frame from another thread waits for the main thread's
    // events; a command read there shares its pass and applies to it: one process call of that
    // frame, the slot's length kept.
    RecordingEngine::setProcessResult(1);
    const std::string lastMarker = markerCall(m_marker);
    sent().controlInputPending = true;
    std::thread([this] { push(makeFrame(2, 1, 7)); }).join();
    command("2 40");
    ASSERT_TRUE(sent().waitForMessages(1));
    settle();
    const Calls calls = callsFrom(lastMarker);
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 5),
              (Calls{lastMarker, "process 3 1 5", "modify_shape_eye_scale 0.4", "process 2 1 7",
                     markerCall(5)}));
    EXPECT_EQ(sent().messages().at(0).size(), makeFrame(3, 1, 5).size());
    EXPECT_TRUE(sent().messages().at(0).startsWith(invertedFrame(makeFrame(2, 1, 7))));

    // Without, it is processed with no help from the main thread.
    sent().controlInputPending = false;
    std::thread([this] { push(makeFrame(2, 1, 9)); }).join();
    EXPECT_TRUE(m_log.waitFor("process 2 1 9"));
}

TEST_F(ProcessThreadTest, ArrivalsDuringProcessingCollapseToTheLatestFrameAndCommandPerId) {
    RecordingEngine::holdProcess(true);
    push(makeFrame(2, 2, 1));
    ASSERT_TRUE(m_log.waitFor("process 2 2 1"));

    // All of these arrive while the engine is busy with the first frame.
    const QByteArray newest = makeFrame(2, 2, 4);
    for (const char* text : {"0 10", "5 616263", "0 20", "1 30", "1 40"}) command(text);
    push(makeFrame(2, 2, 2));
    push(newest);
    RecordingEngine::holdProcess(false);
    ASSERT_TRUE(sent().waitForMessages(2));
    // The frame under the engine is not the one that newer frames are stored into.
    EXPECT_EQ(sent().messages().at(0), invertedFrame(makeFrame(2, 2, 1)));
    EXPECT_EQ(sent().messages().at(1), invertedFrame(newest));

    // One pass applied the latest command per id, in no promised order, then the newest frame.
    Calls calls = m_log.lines();
    ASSERT_EQ(calls.size(), 5u);
    std::sort(calls.begin() + 1, calls.end() - 1);
    EXPECT_EQ(calls, (Calls{"process 2 2 1", "modify_skin_smooth 0.4", "modify_skin_white 0.2",
                            "modify_sticker \"abc\"", "process 2 2 4"}));
}

TEST_F(ProcessThreadTest, FramesThatDoNotFitTheirHeaderNeverReachTheEngine) {
    const QByteArray rejected[] = {
        QByteArray("\1\0\0\0\1", 5),  // shorter than a header
        frameHeader(0, 1),
        frameHeader(1, -1),
        frameHeader(65536, 65536) + QByteArray(12, '\1'),  // width * height * 3 beyond 32 bits
        frameHeader(INT32_MAX, INT32_MAX),                 // and beyond 63 bits
        frameHeader(4, 4) + makeFrame(1, 1, 0).mid(8),     // 4 x 4 pixels announced, one pixel sent
    };
    for (const QByteArray& bytes : rejected) {
        push(bytes);
        settle();
    }
    EXPECT_EQ(m_log.lines().size(), 2 * std::size(rejected));  // markers only
    EXPECT_TRUE(sent().messages().isEmpty());
    EXPECT_EQ(g_warnings, 1);

    // A fitting frame is processed again, and the next misfit warns again.
    const QByteArray fitting = makeFrame(1, 1, 9) + QByteArray(8, '\xEE');
    push(fitting);
    ASSERT_TRUE(sent().waitForMessages(1));
    EXPECT_EQ(sent().messages().at(0).left(11), invertedFrame(fitting).left(11));
    push(frameHeader(5, 5));
    settle();
    EXPECT_EQ(g_warnings, 2);
    for (const QByteArray& message : sent().messages())
        EXPECT_EQ(message.left(8), frameHeader(1, 1));
}
