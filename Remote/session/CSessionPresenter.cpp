#include "CSessionPresenter.h"

#include "CDlgCommNew.h"
#include "CDlgMsg.h"

#include <QMessageBox>

void CSessionPresenter::Message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KLRemote"), text, QMessageBox::Ok, parent);
    box.exec();
}

void CSessionPresenter::ConnectionFailed(QWidget *parent, int kind)
{
    CDlgMsg dialog(kind, parent);
    dialog.exec();
}

void CSessionPresenter::About(QWidget *parent)
{
    CAboutDlg dialog(parent);
    dialog.exec();
}

bool CSessionPresenter::EditCommunication(CDlgCommNew &dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

void CSessionPresenter::Notify(QWidget *parent, CRemoteSession::Notice notice)
{
    using N = CRemoteSession::Notice;
    switch (notice) {
    case N::Connected:
        return Message(parent, QStringLiteral("Connected"));
    case N::Timeout:
        return Message(parent, QStringLiteral("Timeout"));
    case N::Disconnected:
        return Message(parent, QStringLiteral("Disconnected"));
    case N::WinsockFailed:
        return Message(parent, QStringLiteral("WSA 32 Load Error!"));
    // The Connection Failed dialog's kinds: 1 TCP, 2 USB, 3 no answer to the identification.
    case N::FailedTcp:
        return ConnectionFailed(parent, 1);
    case N::FailedUsb:
        return ConnectionFailed(parent, 2);
    case N::FailedNoAnswer:
        return ConnectionFailed(parent, 3);
    }
}
