#include "shared_memory.h"

#include <gtest/gtest.h>

#include <QtGlobal>
#include <cstring>

#include "helper_process.h"
#include "shared_memory_p.h"

namespace {

QStringList g_messages;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    g_messages << message;
}

class SharedMemoryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { removeTestLeftovers(); }
};

// The channel tests use the wrapper end to end; this checks what it adds to SharedMemoryPrivate:
// keys as UTF-8 and the line its destructor logs.
TEST_F(SharedMemoryTest, KeysAreUtf8AndTheDestructorLogsItsLine) {
    const std::string key = "caf\xc3\xa9 " + uniqueName("q");
    auto* segment = new SharedMemory;
    segment->setKey(QString::fromStdString(key));
    EXPECT_FALSE(segment->isAttached());
    ASSERT_TRUE(segment->create(921700, SharedMemory::ReadWrite));
    EXPECT_EQ(segment->size(), 925696);
    SharedMemoryPrivate other;
    other.setKey(key);
    ASSERT_TRUE(other.attach(SharedMemoryPrivate::ReadWrite));
    std::memcpy(segment->data(), "frame", 6);
    EXPECT_STREQ(static_cast<const char*>(other.memory), "frame");

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    delete segment;
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, QStringList{"28 __cdecl SharedMemory::~SharedMemory(void)"});
    EXPECT_TRUE(other.detach());
}

}  // namespace
