#include "shared_memory.h"

#include <gtest/gtest.h>

#include <QtGlobal>
#include <cstring>

#include "helper_process.h"

namespace {

QStringList g_messages;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    g_messages << message;
}

class SharedMemoryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { removeTestLeftovers(); }
};

// The channel tests use the wrapper end to end; this checks what it adds to SharedMemoryPrivate.
TEST_F(SharedMemoryTest, ForwardsConvertsAndLogsItsDestruction) {
    const QString key = QString::fromUtf8("caf\u00e9 ") + QString::fromStdString(uniqueName("q"));
    auto* sender = new SharedMemory;
    SharedMemory receiver;
    sender->setKey(key);
    receiver.setKey(key);
    EXPECT_FALSE(receiver.attach(SharedMemory::ReadOnly));
    EXPECT_EQ(receiver.error(), SharedMemoryError::NotFound);
    EXPECT_EQ(receiver.errorString(), QString("SharedMemory::handle : doesn't exist"));
    ASSERT_TRUE(sender->create(921700, SharedMemory::ReadWrite));
    EXPECT_EQ(sender->size(), 925696);
    EXPECT_FALSE(receiver.create(1000, static_cast<SharedMemory::AccessMode>(7)));
    EXPECT_EQ(receiver.error(), SharedMemoryError::AlreadyExists);
    ASSERT_TRUE(receiver.attach(SharedMemory::ReadWrite));
    EXPECT_TRUE(receiver.isAttached());

    ASSERT_TRUE(sender->tryLock(50));
    std::memcpy(sender->data(), "frame", 6);
    EXPECT_FALSE(receiver.tryLock(0));
    EXPECT_EQ(receiver.error(), SharedMemoryError::LockError);
    EXPECT_TRUE(sender->unlock());
    EXPECT_STREQ(static_cast<const char*>(receiver.data()), "frame");

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    delete sender;
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, QStringList{"28 __cdecl SharedMemory::~SharedMemory(void)"});
    EXPECT_TRUE(receiver.detach());
    EXPECT_FALSE(receiver.isAttached());
    EXPECT_EQ(receiver.size(), 0);
}

}  // namespace
