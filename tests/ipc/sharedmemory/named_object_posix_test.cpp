// The Linux platform layer against names that another local user prepared: every file of a name
// must belong to us and be closed to others, and a gate that somebody keeps locked must end in an
// error instead of a hang. A stranger's files are made here directly: open to everyone (mode), or
// handed to another user (fchown, which needs root).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "helper_process.h"
#include "native_ipc.h"

namespace {

using namespace nativeipc;

constexpr uid_t kStranger = 65534;  // nobody

// Makes /dev/shm/<file> with that mode and, when possible and wanted, another owner.
void prepare(const std::string& file, mode_t mode, bool stranger) {
    const int fd = shm_open(("/" + file).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0) << file;
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    ASSERT_EQ(fchmod(fd, mode), 0);
    if (stranger) {
        ASSERT_EQ(fchown(fd, kStranger, kStranger), 0);
    }
    close(fd);
}

void removeFiles(const std::string& name) {
    for (const char* suffix : {"", ".holders", ".gate"}) {
        shm_unlink(("/" + name + suffix).c_str());
        shm_unlink(("/sem." + name + suffix).c_str());
    }
}

class NamedObjectPosixTest : public ::testing::Test {
protected:
    void TearDown() override { removeFiles(m_name); }
    std::string m_name = testnames::letterName("prepared");
};

TEST_F(NamedObjectPosixTest, FilesOfAStrangerOrOpenToOthersAreRefusedAndALockedGateTimesOut) {
    const std::u16string name(m_name.begin(), m_name.end());
    struct Case {
        std::string file;
        mode_t mode;
        bool stranger;
        bool semaphore;
    };
    const bool root = geteuid() == 0;
    const Case cases[] = {
        {m_name, 0666, false, false},
        {m_name, 0600, root, false},
        {m_name + ".holders", 0644, false, false},
        {m_name + ".gate", 0600, root, false},
        {"sem." + m_name, 0660, false, true},
        {"sem." + m_name + ".holders", 0600, root, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        prepare(c.file, c.mode, c.stranger);
        // A live holder of our own, so that the prepared files are not removed as stale (root
        // could remove them even from the sticky /dev/shm).
        const std::string holders = (c.semaphore ? "/sem." : "/") + m_name + ".holders";
        const int holder = shm_open(holders.c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(flock(holder, LOCK_SH), 0);
        if (c.semaphore) {
            EXPECT_EQ(createSemaphore(name, 0), nullptr);
        } else {
            EXPECT_EQ(createFileMapping(name, 4096), nullptr);
            EXPECT_EQ(openFileMapping(name), nullptr);
        }
        EXPECT_EQ(lastError(), kErrorAccessDenied);
        close(holder);
        removeFiles(m_name);
    }

    // Files of our own, closed to others, are taken (a stale object is replaced), once a gate
    // that somebody kept locked has ended in a time-out.
    prepare(m_name, 0600, false);
    const int gate = shm_open(("/" + m_name + ".gate").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(gate, 0);
    ASSERT_EQ(flock(gate, LOCK_EX), 0);
    EXPECT_EQ(createFileMapping(name, 4096), nullptr);
    EXPECT_EQ(lastError(), kErrorTimeout);
    close(gate);
    Handle mapping = createFileMapping(name, 4096);
    EXPECT_NE(mapping, nullptr);
    EXPECT_TRUE(closeHandle(mapping));
}

}  // namespace
