// The program's main window against a sound server that is frozen before it starts: its sound
// output waits for the server a bounded time only, so the window still opens, in a few seconds.
// The window runs in a child process (this test program, running only the Child case) whose
// private server the test freezes first.

#include "app/windows/TForm18.h"
#include "tests/support/SoundPathSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

using namespace kavrel;
using namespace kavrel::testing_sound;

namespace {

const char* const ChildVariable = "KAVREL_WINDOW_FROZEN_CHILD";

TEST(FrozenServerWindowChild, Run)
{
    if (!qEnvironmentVariableIsSet(ChildVariable)) {
        GTEST_SKIP() << "runs only as the child of FrozenServerWindow.StillOpens";
    }
    QElapsedTimer clock;
    clock.start();
    TForm18 form18;
    form18.show();
    QApplication::processEvents();
    std::printf("shown: %d (%lld ms)\n", form18.isVisible() ? 1 : 0,
                static_cast<long long>(clock.elapsed()));
    std::fflush(stdout);
}

TEST(FrozenServerWindow, StillOpens)
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE")) {
        GTEST_SKIP() << "KAVREL_TEST_PULSE is not set: no test sound server";
    }
    TPrivateServer server;
    ASSERT_TRUE(server.Start()) << server.Errors().toStdString();
    ASSERT_GT(server.Pid(), 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(server.Pid()), SIGSTOP), 0);

    QProcessEnvironment env = server.ClientEnvironment();
    env.insert(ChildVariable, "1");
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=FrozenServerWindowChild.Run"});
    ASSERT_TRUE(child.waitForStarted(5000));
    const bool ended = child.waitForFinished(20000);
    const std::string said = child.readAllStandardOutput().toStdString();
    if (!ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "the window program hung:\n" << said;
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << said;
    EXPECT_EQ(child.exitCode(), 0) << said;
    const auto at = said.find("shown: ");
    ASSERT_NE(at, std::string::npos) << said;
    int shown = 0;
    long long ms = -1;
    ASSERT_EQ(std::sscanf(said.c_str() + at, "shown: %d (%lld ms)", &shown, &ms), 2) << said;
    EXPECT_EQ(shown, 1);
    EXPECT_LT(ms, 3500) << "the window waited too long for the frozen server";
    std::printf("[ fault    ] frozen before start: the window was shown after %lld ms\n", ms);
}

} // namespace
