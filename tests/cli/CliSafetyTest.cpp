// What the commands and the window program do with hostile names, targets, settings and signals.

#include "tests/cli/CliRunner.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kavrel {
namespace {

using test::Contents;
using test::Fixture;
using test::RunKavrel;
using test::TCliResult;

void Copy(const QString& from, const std::string& to)
{
    std::filesystem::copy_file(QFile::encodeName(from).toStdString(), to);
}

// Runs kavrel with arguments given as bytes (QProcess would re-encode them); the exit code, or
// -1 when it did not end normally.
int RunKavrelBytes(const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(KAVREL_EXE)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, KAVREL_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(CliSafety, AnEmptyOutputNameIsRefusedAndTheInputKept)
{
    QTemporaryDir folder;
    const QString in = folder.filePath("in.wav");
    ASSERT_TRUE(QFile::copy(Fixture("pcm24-stereo.wav"), in));
    for (const char* command : {"convert", "export"}) {
        const TCliResult r = RunKavrel({command, in, ""});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(r.err.contains("empty")) << r.err.toStdString();
        EXPECT_EQ(Contents(in), Contents(Fixture("pcm24-stereo.wav"))) << command;
    }
}

TEST(CliSafety, AWriteProtectedTargetIsRefused)
{
    QTemporaryDir folder;
    const QString out = folder.filePath("locked.wav");
    {
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    ::chmod(QFile::encodeName(out).constData(), 0444);
    for (const char* command : {"convert", "export"}) {
        const TCliResult r = RunKavrel({command, Fixture("pcm16-stereo.wav"), out});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(r.err.contains("locked.wav: the file is write-protected"))
            << r.err.toStdString();
        EXPECT_EQ(Contents(out), QByteArray("precious"));
    }
}

// A name that is not UTF-8 is used byte for byte; one that begins with '-' comes after "--",
// and without it the error says so.
TEST(CliSafety, FileNamesAreTakenAsTheyAre)
{
    QTemporaryDir folder;
    const std::string dir = QFile::encodeName(folder.path()).toStdString();
    const std::string latin1 = dir + "/caf\xe9.wav";
    const std::string dash = "-take.wav";
    Copy(Fixture("pcm16-stereo.wav"), latin1);
    Copy(Fixture("pcm16-stereo.wav"), dir + "/" + dash);
    EXPECT_EQ(RunKavrelBytes({"info", latin1}), 0);
    EXPECT_EQ(RunKavrelBytes({"convert", latin1, dir + "/out\xff.wav"}), 0);
    struct stat info {};
    EXPECT_EQ(::stat((dir + "/out\xff.wav").c_str(), &info), 0);
    EXPECT_EQ(RunKavrelBytes({"export", latin1, dir + "/filtered\xff.wav"}), 0);
    EXPECT_EQ(RunKavrelBytes({"analyze", latin1}), 0);

    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    EXPECT_EQ(RunKavrel({"info", "--", QString::fromStdString(dash)}).exitCode, 0);
    const TCliResult r = RunKavrel({"info", QString::fromStdString(dash)});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("'--'")) << r.err.toStdString();
    QDir::setCurrent(before);
    // QTemporaryDir cannot name these files to remove them.
    for (const std::string& name : {latin1, dir + "/out\xff.wav", dir + "/filtered\xff.wav"})
        std::filesystem::remove(name);
}

TEST(CliSafety, ReadingLessThanTheFileStatesIsAWarningOfEveryCommand)
{
    QTemporaryDir folder;
    for (const QStringList& args :
         {QStringList{"analyze", Fixture("truncated-data.wav")},
          QStringList{"export", Fixture("truncated-data.wav"), folder.filePath("out.wav")},
          QStringList{"convert", Fixture("truncated-data.wav"), folder.filePath("out.wav")}}) {
        const TCliResult r = RunKavrel(args);
        EXPECT_EQ(r.exitCode, 0) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("truncated-data.wav: warning: the file ends before its data"))
            << r.err.toStdString();
    }
    // A cut MP3: the program's own lines are all that reach stderr, never the decoder's
    // diagnostics; info says it on its line, the others in a warning.
    for (const char* command : {"info", "analyze"}) {
        const TCliResult r = RunKavrel({command, Fixture("formats/tone-cut-off.mp3")});
        EXPECT_EQ(r.exitCode, 0) << command;
        for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(line.startsWith("kavrel: ")) << line.toStdString();
        EXPECT_TRUE(r.out.contains("truncated=yes") ||
                    r.err.contains("tone-cut-off.mp3: warning: the file ends before its data"))
            << command;
    }
}

// A sound larger than the memory the program may have is refused with a message naming the file,
// never an uncaught std::bad_alloc. The file is sparse: 3 GB of data that take no disk. The export
// reads a file in blocks and never holds it: it gets through the whole file.
TEST(CliSafety, RunningOutOfMemoryIsAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
#endif
    QTemporaryDir folder;
    const std::string in = QFile::encodeName(folder.filePath("big.wav")).toStdString();
    {
        QFile source(Fixture("pcm16-stereo.wav"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QByteArray header = source.read(44);
        const std::uint32_t data = 0xC0000000u;
        for (int i = 0; i < 4; ++i)
            header[40 + i] = static_cast<char>((data >> (8 * i)) & 0xff);
        QFile out(QString::fromStdString(in));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(header);
        out.resize(44 + static_cast<qint64>(data));
    }
    for (const char* command : {"convert", "export"}) {
        const std::string out = QFile::encodeName(folder.filePath("out.wav")).toStdString();
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(pipeFds[1], 2);
            struct rlimit limit {};
            limit.rlim_cur = limit.rlim_max = rlim_t{1} << 30;
            ::setrlimit(RLIMIT_AS, &limit);
            ::execl(KAVREL_EXE, KAVREL_EXE, command, in.c_str(), out.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        std::string err;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            err.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << command << " " << status;
        EXPECT_NE(err.find(command == std::string("export")
                               ? "out.wav: not written: the filtered sound is silent"
                               : "big.wav: not enough memory"),
                  std::string::npos)
            << err;
        EXPECT_FALSE(QFile::exists(folder.filePath("out.wav")));
    }
}

// /dev/stdout leads to "pipe:[N]", which is no path: the pipe is written in place.
TEST(CliSafety, ConvertWritesIntoAPipeThroughDevStdout)
{
    QTemporaryDir dir;
    const TCliResult file =
        RunKavrel({"convert", Fixture("pcm16-stereo.wav"), dir.filePath("out.wav")});
    ASSERT_EQ(file.exitCode, 0) << file.err.toStdString();
    QProcess process;
    process.start(QStringLiteral(KAVREL_EXE),
                  {"convert", Fixture("pcm16-stereo.wav"), "/dev/stdout"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(process.readAllStandardOutput(), Contents(dir.filePath("out.wav")));
}

// A mistyped command is a usage error; only an existing file goes to the window program (which
// here, without a display, says it has none). A copy of the command-line program with no window
// program beside it or installed says so.
TEST(CliSafety, AFirstWordThatIsNeitherACommandNorAFileIsAnUnknownCommand)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    QTemporaryDir dir;
    const QString alone = dir.filePath("kavrel");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KAVREL_EXE), alone));
    for (const auto& [program, word, code, says] :
         {std::tuple{QStringLiteral(KAVREL_EXE), QString("exprot"), 2, "unknown command 'exprot'"},
          std::tuple{QStringLiteral(KAVREL_EXE), Fixture("pcm16-stereo.wav"), 1, "no display"},
          std::tuple{alone, Fixture("pcm16-stereo.wav"), 1, "cannot start the window program"}}) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, {word, "a.wav", "b.wav"});
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), code) << err.toStdString();
        EXPECT_TRUE(err.contains(says)) << err.toStdString();
    }
}

// Each test has a configuration folder of its own.
class CliSettingsSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        QDir().mkpath(Folder());
    }
    QString Folder() const { return m_dir.filePath("config/MorvaneData/Kavrel/0.0.0.2"); }
    QString Settings() const { return Folder() + "/Kavrelsettings.zelfile"; }

    QProcess* Start(const QStringList& args)
    {
        m_process.setProcessEnvironment(m_env);
        m_process.start(QStringLiteral(KAVREL_EXE), args);
        EXPECT_TRUE(m_process.waitForStarted(10000));
        return &m_process;
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_process;
};

// An item of another type under one of the keys counts as missing: the command goes on and says
// which file and which key.
TEST_F(CliSettingsSafety, AWronglyTypedItemIsTakenAsMissing)
{
    QByteArray b("ZEL1");
    const auto put32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.append(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    const auto text = [&](const QByteArray& t) {
        put32(static_cast<std::uint32_t>(t.size()));
        b.append(t);
    };
    text("");
    text("0.0");
    text("Kavrel");
    text("0.0.0.2");
    put32(1);
    text("Settings");
    text("RawGain");
    put32(3);
    text("abcd");
    QFile file(Settings());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(b);
    file.close();
    QTemporaryDir out;
    QProcess* p =
        Start({"export", Fixture("pcm16-stereo.wav"), out.filePath("x.wav"), "--filter-gain", "-3",
               "--pole-f0", "100", "--pole-q", "1", "--zero-f0", "200", "--zero-q", "1"});
    ASSERT_TRUE(p->waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(p->readAllStandardError());
    EXPECT_EQ(p->exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(Settings()) && err.contains("RawGain")) << err.toStdString();
    EXPECT_TRUE(QFile::exists(out.filePath("x.wav")));
}

// A logout or a kill closes the window as its own close does: the settings are stored, exit 0.
TEST_F(CliSettingsSafety, TheWindowClosesOnStopSignalsAndStoresTheSettings)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QFile::remove(Settings());
        QFile::remove(Folder() + "/Kavrel.ini");
        QProcess* p = Start({});
        // The recent-files ini is written while the window is made, after the signals are
        // watched.
        for (int i = 0; i < 400 && !QFile::exists(Folder() + "/Kavrel.ini"); ++i)
            QThread::msleep(25);
        ASSERT_TRUE(QFile::exists(Folder() + "/Kavrel.ini"));
        ::kill(static_cast<pid_t>(p->processId()), signal);
        ASSERT_TRUE(p->waitForFinished(20000)) << signal;
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(p->exitCode(), 0) << signal;
        EXPECT_TRUE(QFile::exists(Settings())) << signal;
    }
}

// Settings that cannot be saved do not keep a stop signal from ending the program: what can be
// saved is, the rest is said on stderr, and no message box waits for a click.
TEST_F(CliSettingsSafety, AStopSignalEndsTheWindowWhenTheSettingsCannotBeSaved)
{
    const std::string settings = QFile::encodeName(Settings()).toStdString();
    const std::vector<std::pair<const char*, std::function<void()>>> spoilers{
        {"write-protected",
         [&] {
             QFile(Settings()).open(QIODevice::WriteOnly);
             ::chmod(settings.c_str(), 0444);
         }},
        {"a folder", [&] { QDir().mkpath(Settings()); }},
        {"a dangling link", [&] { ::symlink("/nonexistent/folder/x", settings.c_str()); }},
        {"a pipe", [&] { ::mkfifo(settings.c_str(), 0600); }},
    };
    for (const auto& [what, spoil] : spoilers) {
        std::filesystem::remove_all(settings);
        QFile::remove(Folder() + "/Kavrel.ini");
        spoil();
        QProcess* p = Start({});
        for (int i = 0; i < 400 && !QFile::exists(Folder() + "/Kavrel.ini"); ++i)
            QThread::msleep(25);
        ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
        ASSERT_TRUE(p->waitForFinished(20000)) << what;
        EXPECT_EQ(p->exitCode(), 0) << what;
        const QString err = QString::fromLocal8Bit(p->readAllStandardError());
        EXPECT_TRUE(err.contains("Kavrelsettings.zelfile")) << what << ": " << err.toStdString();
        EXPECT_TRUE(Contents(Folder() + "/Kavrel.ini").contains("[Windows]")) << what;
    }
}

} // namespace
} // namespace kavrel
