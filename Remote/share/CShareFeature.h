// "Share in Browser...": the panel's pictures, state and keys for any browser. The feature owns
// the share server for the panel's whole life, so the latest picture is at hand the moment
// sharing starts; the dialog starts and stops it.
#pragma once

#include "CShareServer.h"
#include "IPanelFeature.h"
#include "ShareStatus.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class CPrefStore;
class CRemoteDlg;
class CShareDlg;

// What the share tells of a panel beyond its session.
struct ShareProfile
{
    QString family;
    std::vector<ShareKey> keys;
    // Whether the instrument takes clicks on its screen (asked again at every change).
    std::function<bool()> acceptsTouch;
};

class CShareFeature : public QObject, public IPanelFeature
{
    Q_OBJECT
public:
    // `store` keeps the address last shared on; it may be null.
    CShareFeature(CRemoteDlg &panel, ShareProfile profile, CPrefStore *store);
    ~CShareFeature() override;

    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

    // Starts (or restarts) sharing; false with the reason in `error`.
    bool Start(const QHostAddress &address, quint16 port, QString &error);
    void Stop();
    void SetControlAllowed(bool allowed);

    CShareServer &Server() { return m_server; }
    // The dialog once it has been opened, else null.
    CShareDlg *Dialog() const;
    // The address the dialog offers first: the last one shared on, else 127.0.0.1:8080.
    QString LastListen() const;

signals:
    void sharingChanged(bool sharing);

private:
    void UpdateStatus();
    CShareServer::KeyOutcome TakeKey(const std::string &text);

    CRemoteDlg &m_panel;
    ShareProfile m_profile;
    CPrefStore *m_store;
    CShareServer m_server;
    QString m_model;
    QPointer<CShareDlg> m_dialog;
};
