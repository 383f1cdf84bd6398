#include "CRemoteApp.h"

#include "CDlgModel.h"
#include "Families.h"
#include "PanelRunner.h"
#include "QuitOnSignal.h"
#include "Resources.h"

namespace {
constexpr const char *kOrganisation = "Quorvex";
constexpr const char *kApplication = "KLRemote";
constexpr const char *kDesktopFile = "klremote";
} // namespace

void CRemoteApp::SetIdentity()
{
    QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorvex.com"));
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplication));
    QCoreApplication::setApplicationVersion(QStringLiteral(KLR_VERSION));
}

CRemoteApp::CRemoteApp(int &argc, char **argv) : QApplication(argc, argv)
{
    SetIdentity();
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFile));
    setWindowIcon(res::LoadIcon(res::IDR_MAINFRAME));
    QuitOnSignal(this, [] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                window->close();
        }
    });
}

int CRemoteApp::Run(const AppOptions &options)
{
    if (!options.replay.isEmpty())
        return RunReplay(options);
    int family = options.family;
    if (!IsValidFamily(family)) {
        // Every start asks again with the first family preselected; the choice is not kept.
        CDlgModel dlg;
        dlg.m_nFamily = 0;
        // Cancel is a normal end: no panel, no log, no store access.
        if (dlg.exec() != QDialog::Accepted)
            return 0;
        family = dlg.m_nFamily;
    }
    return RunPanel(family, options);
}
