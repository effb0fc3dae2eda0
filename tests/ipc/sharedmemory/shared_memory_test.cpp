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

TEST_F(SharedMemoryTest, TransportSequence) {
    const QString key = QString::fromStdString(uniqueName("n1")) + "_sharedMemory";
    SharedMemory sender;
    SharedMemory receiver;
    sender.setKey(key);
    receiver.setKey(key);
    ASSERT_TRUE(sender.create(921700, SharedMemory::ReadWrite));
    EXPECT_TRUE(sender.isAttached());
    EXPECT_EQ(sender.size(), 925696);

    EXPECT_FALSE(receiver.create(1000, static_cast<SharedMemory::AccessMode>(7)));
    EXPECT_EQ(receiver.error(), SharedMemoryError::AlreadyExists);
    EXPECT_EQ(receiver.errorString(), "SharedMemory::create : already exists");
    ASSERT_TRUE(receiver.attach(SharedMemory::ReadWrite));
    EXPECT_EQ(receiver.size(), 925696);

    ASSERT_TRUE(sender.tryLock(50));
    std::memcpy(sender.data(), "frame", 6);
    EXPECT_FALSE(receiver.tryLock(50));
    EXPECT_EQ(receiver.error(), SharedMemoryError::LockError);
    EXPECT_TRUE(sender.unlock());
    ASSERT_TRUE(receiver.tryLock(50));
    EXPECT_STREQ(static_cast<const char*>(receiver.data()), "frame");
    EXPECT_TRUE(receiver.unlock());
    EXPECT_TRUE(receiver.detach());
    EXPECT_FALSE(receiver.isAttached());
    EXPECT_EQ(receiver.size(), 0);
}

TEST_F(SharedMemoryTest, ErrorTextsAndDestructorLine) {
    auto* segment = new SharedMemory;
    segment->setKey(QString::fromUtf8("caf\u00e9 ") + QString::fromStdString(uniqueName("q")));
    EXPECT_FALSE(segment->attach(SharedMemory::ReadOnly));
    EXPECT_EQ(segment->error(), SharedMemoryError::NotFound);
    EXPECT_EQ(segment->errorString(), QString("SharedMemory::handle : doesn't exist"));
    ASSERT_TRUE(segment->create(1, SharedMemory::ReadWrite));

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    delete segment;
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, QStringList{"28 __cdecl SharedMemory::~SharedMemory(void)"});
}

}  // namespace
