// Start-up of the service as a real process: facelume_probe (start-up with a wiring that prints
// its arguments and quits), the service with the recording engine, and the shipped executable
// with the pass-through engine. Copies go to temporary folders to vary what lies beside them.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace {

constexpr int kTimeoutMs = 10000;

struct ProcessResult {
    int exitCode = -1;
    bool finished = false;
    QString output;
};

class StartupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "startup_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }

    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }

    // Runs program to its end with the recording engine's log in m_temp.
    ProcessResult run(const QString& program, const QStringList& arguments,
                      const QStringList& environment = {}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FACELUME_RECORDING_LOG"), engineLogPath());
        for (const QString& entry : environment) {
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        }
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        ProcessResult result;
        result.finished = process.waitForFinished(kTimeoutMs);
        if (!result.finished) {
            process.kill();
            process.waitForFinished(kTimeoutMs);
        }
        result.exitCode = process.exitCode();
        result.output = QString::fromUtf8(process.readAll());
        return result;
    }

    QString engineLogPath() const { return m_temp.filePath(QStringLiteral("engine.log")); }

    QStringList engineLog() const {
        QFile file(engineLogPath());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // Copies the service and an engine library into folder (created), with or without
    // beauty_res beside them. Returns the copied service's path.
    QString install(const QString& folder, const QString& service, const QString& engine,
                    bool withResources) {
        EXPECT_TRUE(QDir().mkpath(folder));
        const QString target = folder + '/' + QFileInfo(service).fileName();
        EXPECT_TRUE(QFile::copy(service, target));
        EXPECT_TRUE(QFile::copy(engine, folder + '/' + QFileInfo(engine).fileName()));
        if (withResources) {
            EXPECT_TRUE(QDir(folder).mkdir(QStringLiteral("beauty_res")));
        }
        return target;
    }

    QTemporaryDir m_temp;
};

QString folderLine(const QString& folder) { return '"' + folder + "/beauty_res\""; }

}  // namespace

TEST_F(StartupTest, CommandLineGivesNamesAndSizeWithDefaults) {
    const struct {
        QStringList arguments;
        QString wired;
    } cases[] = {
        {{}, "wireService n2 n1 921700"},
        {{"only"}, "wireService n2 n1 921700"},
        {{"in", "out"}, "wireService in out 921700"},
        {{"in", "out", "4096"}, "wireService in out 4096"},
        {{"in", "out", "abc"}, "wireService in out 0"},
        {{"in", "out", "12x"}, "wireService in out 0"},
        {{"in", "out", "2048", "extra", "more"}, "wireService in out 2048"},
    };
    const QString probeFolder = QFileInfo(FACELUME_RECORDING_PROBE).absolutePath();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ProcessResult result = run(FACELUME_RECORDING_PROBE, c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output.split('\n', Qt::SkipEmptyParts),
                  QStringList({folderLine(probeFolder), "initSuccess", c.wired}));
    }
    EXPECT_EQ(engineLog().size(), static_cast<int>(std::size(cases)));
    EXPECT_EQ(engineLog().value(0), "initialize " + probeFolder + "/beauty_res");
}

TEST_F(StartupTest, BackslashesInTheExecutableFolderBecomeSlashes) {
    const QString folder = m_temp.filePath(QStringLiteral("one\\two"));
    const QString probe = install(folder, FACELUME_RECORDING_PROBE, FACELUME_RECORDING_ENGINE,
                                  /*withResources=*/false);
    // The engine is handed <temp>/one/two/beauty_res, so that is where the resources must be.
    ASSERT_TRUE(QDir().mkpath(m_temp.filePath(QStringLiteral("one/two/beauty_res"))));

    const ProcessResult result = run(probe, {});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    const QString expected = m_temp.path() + "/one/two";
    EXPECT_TRUE(result.output.startsWith(folderLine(expected) + '\n'))
        << result.output.toStdString();
    EXPECT_EQ(engineLog(), QStringList{"initialize " + expected + "/beauty_res"});
}

TEST_F(StartupTest, MissingResourceFolderFailsWithInitError) {
    const QString folder = m_temp.filePath(QStringLiteral("bare"));
    const QString probe = install(folder, FACELUME_RECORDING_PROBE, FACELUME_RECORDING_ENGINE,
                                  /*withResources=*/false);
    const ProcessResult result = run(probe, {"in", "out", "100"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.output.split('\n', Qt::SkipEmptyParts),
              QStringList({folderLine(folder), "initError"}));
}

TEST_F(StartupTest, FailingEngineFailsWithInitErrorAndBuildsNothing) {
    const ProcessResult result =
        run(FACELUME_RECORDING_SERVICE, {"core_startup_fail_r", "core_startup_fail_s"},
            {"FACELUME_RECORDING_FAIL_INIT=1"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 255);
    const QString folder = QFileInfo(FACELUME_RECORDING_SERVICE).absolutePath();
    EXPECT_EQ(result.output.split('\n', Qt::SkipEmptyParts),
              QStringList({folderLine(folder), "initError"}));
    EXPECT_EQ(engineLog(), QStringList{"initialize " + folder + "/beauty_res"});
}

// The service and its engine as shipped, with the pass-through engine beside it.
TEST_F(StartupTest, ShippedServiceStartsAndIdlesWithThePassThroughEngine) {
    const QString folder = m_temp.filePath(QStringLiteral("shipped"));
    const QString service = install(folder, FACELUME_SERVICE, FACELUME_PASSTHROUGH_ENGINE,
                                    /*withResources=*/true);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(service, {"core_startup_r", "core_startup_s", "4096"});
    QByteArray output;
    while (!output.contains("initSuccess\n") && process.waitForReadyRead(kTimeoutMs)) {
        output += process.readAll();
    }
    ASSERT_TRUE(output.startsWith(folderLine(folder).toUtf8() + "\ninitSuccess\n"))
        << output.toStdString();
    // It idles in its event loop until ended from outside.
    EXPECT_FALSE(process.waitForFinished(300));
    EXPECT_EQ(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished(kTimeoutMs);
}

TEST_F(StartupTest, ShippedServiceWithoutResourcesFailsWithInitError) {
    const QString folder = m_temp.filePath(QStringLiteral("shipped"));
    const QString service = install(folder, FACELUME_SERVICE, FACELUME_PASSTHROUGH_ENGINE,
                                    /*withResources=*/false);
    const ProcessResult result = run(service, {});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.output.split('\n', Qt::SkipEmptyParts),
              QStringList({folderLine(folder), "initError"}));
}
