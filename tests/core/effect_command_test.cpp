// Control commands as the channel hands them over, checked by the engine calls they lead to.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ai_ipc_handle.h"
#include "engine_calls.h"
#include "process_thread.h"

namespace {

struct CommandCase {
    const char* command;
    std::vector<std::string> calls;
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << '"' << c.command << '"'; }

// Every case is followed by two marker commands for another control, the second pushed once the
// first reached the engine and so run in a later pass: when it arrives, the case has been applied.
struct Marker {
    const char* command;
    std::string call;
};
const Marker kMarkers[] = {{"3 700", "modify_shape_face_thin 7"},
                           {"3 800", "modify_shape_face_thin 8"}};
const Marker kMarkersForControl3[] = {{"2 700", "modify_shape_eye_scale 7"},
                                      {"2 800", "modify_shape_eye_scale 8"}};

class ProcessThreadCommandTest : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override {
        EngineCalls::reset();
        m_thread = std::make_unique<ProcessThread>(&m_handle);
        m_thread->start();
    }
    void TearDown() override { m_thread.reset(); }

    void command(const QByteArray& text) { m_thread->pushCommand(text.constData(), text.size()); }

    AiIpcHandle m_handle{QStringLiteral("core_command_r"), QStringLiteral("core_command_s"), 0, 0};
    std::unique_ptr<ProcessThread> m_thread;
};

TEST_P(ProcessThreadCommandTest, ReachesTheEngineAsExpected) {
    const CommandCase& c = GetParam();
    const Marker* markers = QByteArray(c.command).startsWith("3 ") ? kMarkersForControl3 : kMarkers;
    command(c.command);
    std::vector<std::string> expected = c.calls;
    for (int i = 0; i < 2; ++i) {
        command(markers[i].command);
        ASSERT_TRUE(EngineCalls::waitForCall(markers[i].call));
        expected.push_back(markers[i].call);
    }

    // The case and the first marker may share a pass, in which case their order is not promised.
    std::vector<std::string> calls = EngineCalls::all();
    std::sort(expected.begin(), expected.end());
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ProcessThreadCommandTest,
    ::testing::Values(CommandCase{"0 50", {"modify_skin_white 0.5"}},
                      CommandCase{"3 -25", {"modify_shape_face_thin -0.25"}},
                      CommandCase{"1 1.5", {"modify_skin_smooth 0"}},
                      CommandCase{"2 40|x|y", {"modify_shape_eye_scale 0.4"}},
                      CommandCase{"4 616263|80", {"modify_filter \"abc\" 0.8"}},
                      CommandCase{"4 616263", {}},
                      CommandCase{"6 |50", {"modify_makeup_lipstick null 0"}},
                      CommandCase{"7 00|50", {"modify_makeup_cheeks null 0"}},
                      CommandCase{"8 4142|-300|9", {"modify_makeup_eyebrow \"AB\" -3"}},
                      CommandCase{"5 616263", {"modify_sticker \"abc\""}},
                      CommandCase{"5 ", {"modify_sticker null"}},
                      CommandCase{"0 ", {"modify_skin_white 0"}},
                      CommandCase{"0 25|", {"modify_skin_white 0.25"}},
                      CommandCase{"4 61006263|10", {"modify_filter \"a\" 0.1"}},
                      CommandCase{"4 6162 63|20", {"modify_filter \"abc\" 0.2"}},
                      CommandCase{"4 4A4b|5", {"modify_filter \"JK\" 0.05"}},
                      CommandCase{"5 e282ac", {"modify_sticker \"\xE2\x82\xAC\""}},
                      CommandCase{"5 ff41",
                                  {"modify_sticker \"\xEF\xBF\xBD"
                                   "A\""}},
                      CommandCase{"5 0a22", {"modify_sticker \"\\x0A\\x22\""}},
                      CommandCase{"x 30", {"modify_skin_white 0.3"}},
                      CommandCase{"99999999999 20", {"modify_skin_white 0.2"}},
                      CommandCase{"8 ", {}}, CommandCase{"9 50", {}}, CommandCase{"-1 50", {}},
                      CommandCase{"050", {}}, CommandCase{" 0 50", {}}, CommandCase{"", {}}));

// A thread whose table also holds a function of a type the table does not know.
class ThreadWithUnknownEffect : public ProcessThread {
public:
    ThreadWithUnknownEffect() : ProcessThread(nullptr) { registerEffect(0, &unknownEffect); }

private:
    static int unknownEffect(double value) { return static_cast<int>(value); }
};

struct DebugLines {
    static QtMessageHandler previous;
    static QMutex mutex;
    static QStringList lines;

    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtDebugMsg) {
            QMutexLocker locker(&mutex);
            lines.append(text);
        }
        if (previous) previous(type, context, text);
    }
};
QtMessageHandler DebugLines::previous = nullptr;
QMutex DebugLines::mutex;
QStringList DebugLines::lines;

}  // namespace

TEST(ProcessThreadUnknownEffectTest, IsLoggedAndNeverCalled) {
    EngineCalls::reset();
    DebugLines::lines.clear();
    DebugLines::previous = qInstallMessageHandler(&DebugLines::handler);
    {
        ThreadWithUnknownEffect thread;
        {
            QMutexLocker locker(&DebugLines::mutex);
            ASSERT_EQ(DebugLines::lines.size(), 1);
            EXPECT_TRUE(
                DebugLines::lines.front().startsWith(QStringLiteral("eeeeeeeeeeeeeeerror")));
        }
        thread.start();
        thread.pushCommand("0 50", 4);
        for (const Marker& marker : kMarkers) {
            thread.pushCommand(marker.command, 5);
            ASSERT_TRUE(EngineCalls::waitForCall(marker.call));
        }
        EXPECT_EQ(EngineCalls::all(),
                  (std::vector<std::string>{kMarkers[0].call, kMarkers[1].call}));
    }
    qInstallMessageHandler(DebugLines::previous);
}
