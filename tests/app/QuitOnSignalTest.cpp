#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

#if defined(Q_OS_UNIX)

// One test only: after the first signal the handler is gone by design.
TEST(QuitOnSignal, TerminationClosesTheWindowsOnTheWindowThread)
{
    QObject owner;
    QDialog window;
    int calls = 0;
    bool onWindowThread = false;
    QuitOnSignal(&owner, [&] {
        ++calls;
        onWindowThread = QThread::currentThread() == window.thread();
        window.close();
    });
    window.show();
    ASSERT_TRUE(window.isVisible());

    ASSERT_EQ(std::raise(SIGTERM), 0); // would end the test binary if nothing caught it
    const QDeadlineTimer deadline(10000);
    while (calls == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onWindowThread);
    EXPECT_FALSE(window.isVisible());
    // The next signal is no longer caught: a second Ctrl+C must end a stuck program.
    struct sigaction current
    {
    };
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

#endif
