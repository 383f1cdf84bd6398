// The Connection Failed notice and the About box.
#pragma once

#include <QDialog>

class QAction;
class QLabel;
class QMenu;

class CDlgMsg : public QDialog
{
    Q_OBJECT
public:
    // 1: TCP connection failed; 3: instrument did not answer; anything else: USB.
    explicit CDlgMsg(int kind, QWidget *parent = nullptr);
    QString LineText(int controlId) const; // 1067..1070, for tests

private:
    QLabel *m_lines[4];
};

class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    // Appends a separator and the "Infomation" entry (command 16) that opens the About box
    // modally over `parent`. Returns the new action.
    static QAction *AddInformationAction(QMenu *menu, QWidget *parent);
};
