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
