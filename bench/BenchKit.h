// What the panel benchmarks share: an idle event loop, a median, the CPU time used so far,
// and a panel that connects over loopback to a simulated instrument without a message box.
#pragma once

#include "CRemoteDlg.h"
#include "CSessionPresenter.h"
#include "SessionIds.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <sys/resource.h>
#include <vector>

namespace bench {

// Runs the window's event loop for a while (idle, as a real window would be).
inline void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// User and system time of this process so far, in seconds.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Writes a preference file at `path` whose connection is TCP/IP to 127.0.0.1.
inline void WriteLoopbackPrefs(const QString &path)
{
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue("Connection/Method", 1);
    ini.setValue("Connection/IP", "127.0.0.1");
}

// Nobody is there to click message boxes away.
struct QuietPresenter : CSessionPresenter
{
    void Message(QWidget *, const QString &) override {}
    void ConnectionFailed(QWidget *, int) override {}
};

// Before OnInitDialog: the panel logs into `logFolder` and reaches the simulator on `port`.
inline void UseSimulator(CRemoteDlg &panel, const QString &logFolder, std::uint16_t port)
{
    panel.SetLogFolder(logFolder);
    panel.SetLinkSetup([port](CDevComm &link) { link.SetPort(port); });
}

// After OnInitDialog: connects and waits up to 15 s for the connect to end; true when the
// link is up.
inline bool ConnectAndWait(CRemoteDlg &panel)
{
    panel.OnCommand(ids::IDC_CONNECT);
    QElapsedTimer wait;
    wait.start();
    while (panel.IsConnectRunning() && wait.elapsed() < 15000)
        Spin(10);
    return panel.Link().IsConnected();
}

} // namespace bench
