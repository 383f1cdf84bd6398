// A panel from the shared harness with the capture feature attached: folders of its own and
// prompts that record what they were asked instead of opening dialogs.
#pragma once

#include "CCaptureFeature.h"
#include "CImage.h"
#include "CSessionStatusBar.h"
#include "PanelHarness.h"

#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

struct CaptureRig
{
    QTemporaryDir folders;
    CCaptureFeature *feature = nullptr;
    QStringList warnings;
    QString suggested;  // what Save As suggested
    QString saveAsPath; // what Save As answers
    QString openPath;   // what Open Recording answers
    QStringList replays;

    QString Pictures() const { return folders.filePath("Pictures"); }
    QString Videos() const { return folders.filePath("Videos"); }

    template <typename Harness>
    void Attach(Harness &h, int family)
    {
        CCaptureFeature::Prompts prompts;
        prompts.saveAs = [this](QWidget *, const QString &s) {
            suggested = s;
            return saveAsPath;
        };
        prompts.openRecording = [this](QWidget *, const QString &) { return openPath; };
        prompts.warn = [this](QWidget *, const QString &text) { warnings << text; };
        prompts.replay = [this](const QString &path) {
            replays << path;
            return true;
        };
        auto capture = std::make_unique<CCaptureFeature>(*h.panel, family, prompts);
        capture->SetFolders(Pictures(), Videos());
        feature = capture.get();
        h.panel->AddFeature(std::move(capture));
    }

    // The state of one menu item as the right-click menu would show it now.
    static bool ItemEnabled(CRemoteDlg &panel, int id, bool *checked = nullptr)
    {
        std::unique_ptr<QMenu> menu(panel.BuildContextMenu());
        for (QAction *action : menu->findChildren<QAction *>()) {
            if (action->objectName() == QString::number(id)) {
                if (checked)
                    *checked = action->isChecked();
                return action->isEnabled();
            }
        }
        ADD_FAILURE() << "no menu item " << id;
        return false;
    }
};

// The picture libjpeg-turbo makes of these bytes, as the panel decodes them.
inline QImage Decoded(const QByteArray &jpeg)
{
    CImage image;
    image.LoadFromData(reinterpret_cast<const unsigned char *>(jpeg.constData()), int(jpeg.size()));
    return image.Image();
}
