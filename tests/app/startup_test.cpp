// Start-up of the service as a real process: the service with the recording engine, and the
// shipped executable with the pass-through engine. Copies go to temporary folders to vary what
// lies beside them.

#include <gtest/gtest.h>
#include <signal.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <iterator>
#include <string>
#include <vector>

#include "channel_client.h"
#include "engine_log.h"
#include "test_application.h"
#include "test_names.h"

namespace {

constexpr int kTimeoutMs = 10000;
// main's -1 as the system reports it.
#ifdef Q_OS_WIN
constexpr int kInitErrorExitCode = -1;
#else
constexpr int kInitErrorExitCode = 255;
#endif

QString folderLine(const QString& folder) { return '"' + folder + "/beauty_res\""; }

#ifndef _WIN32
// What a run under the letters-only name left in /dev/shm and in the socket folder.
QStringList leftovers(const QString& name) {
    QStringList found =
        QDir(QStringLiteral("/dev/shm")).entryList({'*' + name + '*'}, QDir::Files | QDir::System);
    const QString socket = socketName(name + "R_pipe");
    if (QFileInfo::exists(socket)) found << socket;
    return found;
}
#endif

// Windows has no signals to send; the console's control events are not tried here.
#ifdef _WIN32
const int kStopSignals[] = {0};
#else
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
#endif

class StartupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }

    // Copies the service and an engine library into folder (created, without beauty_res).
    // Returns the copied service's path.
    QString install(const QString& folder, const QString& service, const QString& engine) {
        EXPECT_TRUE(QDir().mkpath(folder));
        const QString target = folder + '/' + QFileInfo(service).fileName();
        EXPECT_TRUE(QFile::copy(service, target));
        EXPECT_TRUE(QFile::copy(engine, folder + '/' + QFileInfo(engine).fileName()));
        return target;
    }

    // Starts program, expects the folder line and "initSuccess", and that it then idles in its
    // event loop until `signal` arrives, whereupon it takes its channel down and exits with 0.
    void expectReadyIdleAndStop(const QString& program, const QString& folder, int signal) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString name = QString::fromStdString(testnames::letterName("startup"));
        process.start(program, {name + 'R', name + 'S', "4096"});
        QByteArray output;
        while (!output.contains("initSuccess\n") && process.waitForReadyRead(kTimeoutMs))
            output += process.readAll().replace('\r', "");
        EXPECT_TRUE(output.startsWith(folderLine(folder).toLocal8Bit() + "\ninitSuccess\n"))
            << output.toStdString();
        // waitForFinished is false for a process that has ended too, whose id 0 would make kill()
        // signal this test's whole process group.
        EXPECT_FALSE(process.waitForFinished(300));
        ASSERT_EQ(process.state(), QProcess::Running);
#ifdef _WIN32
        process.kill();
#else
        // It listens once its segments are up.
        processEventsUntil([&] { return leftovers(name).join(' ').contains("_pipe"); }, kTimeoutMs);
        EXPECT_GT(leftovers(name).size(), 1) << "segments, semaphores and socket";
        ::kill(static_cast<pid_t>(process.processId()), signal);
        EXPECT_TRUE(process.waitForFinished(kTimeoutMs));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(leftovers(name).join(' ').toStdString(), "");
#endif
        // Whatever it left is removed by its last holder.
        process.waitForFinished(kTimeoutMs);
        (void)ChannelClient(name + 'R', name + 'S', 4096).openSegments();
        removeStaleSocket(pipeName(name + 'R'));
    }

    // Runs program to its end and expects the engine's failure: the folder line, "initError", -1.
    void expectInitError(const QString& program, const QString& folder) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, QStringList());
        ASSERT_TRUE(process.waitForFinished(kTimeoutMs));
        EXPECT_EQ(process.exitCode(), kInitErrorExitCode);
        // Lines end in "\r\n" on Windows; Qt writes them in the local 8-bit encoding.
        EXPECT_EQ(QString::fromLocal8Bit(process.readAll()).remove('\r').toStdString(),
                  (folderLine(folder) + "\ninitError\n").toStdString());
    }

    QTemporaryDir m_temp;
    EngineLog m_log;
};

}  // namespace

// The engine is handed <folder>/beauty_res in UTF-8, with backslashes of the folder turned to
// slashes (the non-ASCII letter tells UTF-8 from the local 8-bit encoding, Windows' ANSI code
// page); without that folder the engine fails. With it the service, also as shipped with the
// pass-through engine, idles until asked to stop, and then takes its channel down and exits with 0.
TEST_F(StartupTest, ResourcesBesideTheExecutableInUtf8ThenIdleAndStopCleanly) {
    const QString recording = install(m_temp.filePath(QString::fromUtf8("one\\tw\xc3\xb6")),
                                      FACELUME_RECORDING_SERVICE, FACELUME_RECORDING_ENGINE);
    const QString shipped = m_temp.filePath(QStringLiteral("shipped"));
    const struct {
        QString service;
        QString folder;
    } runs[] = {{recording, m_temp.path() + QString::fromUtf8("/one/tw\xc3\xb6")},
                {install(shipped, FACELUME_SERVICE, FACELUME_PASSTHROUGH_ENGINE), shipped}};
    for (const auto& run : runs) {
        expectInitError(run.service, run.folder);
        ASSERT_TRUE(QDir().mkpath(run.folder + "/beauty_res"));
        for (const int signal : kStopSignals)
            expectReadyIdleAndStop(run.service, run.folder, signal);
    }
    const std::string initialize = "initialize " + runs[0].folder.toStdString() + "/beauty_res";
    EXPECT_EQ(m_log.lines(), std::vector<std::string>(1 + std::size(kStopSignals), initialize));
}
