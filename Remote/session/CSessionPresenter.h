// Everything the panel shows modally to the operator goes through one presenter, so that a
// test can record the messages instead of blocking on them.
#pragma once

#include "CRemoteSession.h"

#include <QString>

class QWidget;
class CDlgCommNew;

class CSessionPresenter
{
public:
    virtual ~CSessionPresenter() = default;

    // A plain message box with an OK button ("Connected", "Timeout", "Disconnected").
    virtual void Message(QWidget *parent, const QString &text);
    // The Connection Failed dialog of the given kind (1 TCP, 3 no answer, other USB).
    virtual void ConnectionFailed(QWidget *parent, int kind);
    virtual void About(QWidget *parent);
    // Runs the Communication dialog; true when it closed with OK.
    virtual bool EditCommunication(CDlgCommNew &dialog);
    // What a session tells the operator, through the boxes above.
    void Notify(QWidget *parent, CRemoteSession::Notice notice);
};
