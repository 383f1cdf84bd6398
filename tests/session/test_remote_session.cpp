// The session object on its own, without any window: states, notices and pictures by signal.
#include "CPrefStore.h"
#include "CRemoteSession.h"
#include "CSimServer.h"
#include "EventWait.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const PanelProfile kProfile = {
    /*keySpacingMs*/ 0,
    /*refreshPauseMs*/ 0,
    /*usbWaitCount*/ 3,
    /*tcpTimeFormat*/ "%.3f",
    /*usbTimeFormat*/ nullptr,
    /*tcpReceiveFail*/ "Receive Fail : %s\n",
    /*usbReceiveFail*/ "Receive Fail : %s\n",
    /*longRightStep*/ false,
    /*logLineFeed*/ false,
    /*disconnectOnSendFailure*/ true,
    /*qualityOnStart*/ false,
    /*clientSize*/ {100, 100},
    /*screen*/ {0, 0, 800, 480},
    /*screenSize*/ {800, 480},
    /*panelArt*/ 0,
    /*placeholderArt*/ 0,
};

struct SessionRig
{
    QTemporaryDir dir;
    std::shared_ptr<CSimInstrument> instrument = std::make_shared<CSimInstrument>();
    CSimServer server{instrument};
    std::unique_ptr<CPrefStore> store;
    std::unique_ptr<CRemoteSession> session;
    std::vector<SessionState> states;
    std::vector<CRemoteSession::Notice> notices;
    std::vector<QByteArray> pictures;

    bool Open()
    {
        instrument->SetLogSink([](std::string_view) {});
        instrument->SetFamily(SimFamily::Kkc);
        if (!server.Start("127.0.0.1", 0))
            return false;
        {
            QSettings ini(dir.filePath("prefs.ini"), QSettings::IniFormat);
            ini.setValue("Connection/Method", 1);
            ini.setValue("Connection/IP", "127.0.0.1");
        }
        store = std::make_unique<CPrefStore>(dir.filePath("prefs.ini"));
        session = std::make_unique<CRemoteSession>(kProfile, *store, ScreenPipeline{});
        session->SetLogFolder(dir.filePath("log"));
        const std::uint16_t port = server.Port();
        session->SetLinkSetup([port](CDevComm &link) { link.SetPort(port); });
        QObject::connect(session.get(), &CRemoteSession::stateChanged,
                         [this](SessionState s) { states.push_back(s); });
        QObject::connect(session.get(), &CRemoteSession::notice,
                         [this](CRemoteSession::Notice n) { notices.push_back(n); });
        QObject::connect(session.get(), &CRemoteSession::screenReady,
                         [this](const ScreenFrame &f) { pictures.push_back(f.jpeg); });
        return session->Init();
    }
    ~SessionRig()
    {
        session.reset();
        server.Stop();
    }
};

} // namespace

TEST(RemoteSession, ConnectStartStopDisconnectBySignals)
{
    SessionRig rig;
    ASSERT_TRUE(rig.Open());
    rig.session->Connect();
    ASSERT_TRUE(WaitFor([&] { return rig.session->State() == SessionState::Connected; }));
    rig.session->Start();
    ASSERT_TRUE(WaitFor([&] { return rig.pictures.size() >= 2; }));
    // Every picture is the instrument's own bytes, handed over unchanged.
    EXPECT_EQ(rig.pictures.back().left(2), QByteArray("\xFF\xD8", 2));
    rig.session->SendKeyCommand("KEYP:MODE");
    ASSERT_TRUE(rig.session->DrainKeys(5000));
    ASSERT_TRUE(WaitFor([&] { return !rig.instrument->ReceivedCommands().empty(); }));
    EXPECT_EQ(rig.instrument->ReceivedCommands().front(), "KEYP:MODE");
    // Disconnect is not taken while Started; after Stop it is.
    rig.session->Disconnect();
    EXPECT_EQ(rig.session->State(), SessionState::Started);
    rig.session->Stop();
    rig.session->Disconnect();
    EXPECT_EQ(rig.states,
              (std::vector<SessionState>{SessionState::Connecting, SessionState::Connected,
                                         SessionState::Started, SessionState::Connected,
                                         SessionState::Disconnected}));
    EXPECT_EQ(rig.notices,
              (std::vector<CRemoteSession::Notice>{CRemoteSession::Notice::Connected,
                                                   CRemoteSession::Notice::Disconnected}));
    EXPECT_FALSE(rig.session->Link().IsConnected());
}

TEST(RemoteSession, GoesWhileATransferRunsWithNothingCalledBeforeItsDestructor)
{
    SessionRig rig;
    ASSERT_TRUE(rig.Open());
    rig.session->Connect();
    ASSERT_TRUE(WaitFor([&] { return rig.session->State() == SessionState::Connected; }));
    // Every packet crawls: the transfer is under way when the session goes.
    rig.instrument->SetSplitDelayMs(300);
    rig.instrument->SetFault(SimFault::Split);
    rig.session->Start();
    ASSERT_TRUE(WaitFor([&] { return rig.session->m_bScreenReady == 0; }));
    rig.session.reset();
    const auto served = rig.instrument->RepliesSent();
    Spin(700);
    EXPECT_LE(rig.instrument->RepliesSent(), served + 1);
}
