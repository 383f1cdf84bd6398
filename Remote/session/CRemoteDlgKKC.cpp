#include "CRemoteDlgKKC.h"

#include "ArtLayout.h"
#include "CKnobButton.h"
#include "CQxButton.h"
#include "Resources.h"

#include <QKeyEvent>
#include <QPainter>

namespace {

constexpr int kKnobSize = res::layout::kKkcKnobSize;

QImage StretchToScreen(const QImage &decoded, int)
{
    const QSize screen = CRemoteDlgKKC::kProfile.screenSize;
    return decoded.size() == screen
               ? decoded
               : decoded.scaled(screen, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

const PanelProfile CRemoteDlgKKC::kProfile = {
    /*keySpacingMs*/ 100,
    /*refreshPauseMs*/ 0,
    /*usbWaitCount*/ 101,
    /*tcpTimeFormat*/ "%.3f",
    /*usbTimeFormat*/ nullptr,
    /*tcpReceiveFail*/ "Receive Fail : %s\n",
    /*usbReceiveFail*/ "Receive Fail : %s\n",
    /*longRightStep*/ true,
    /*logLineFeed*/ false,
    /*disconnectOnSendFailure*/ true,
    /*qualityOnStart*/ false,
    /*clientSize*/ {kWidth, kHeight},
    /*screen*/ res::layout::kKkcScreen,
    /*screenSize*/ {800, 480},
    /*panelArt*/ res::IDB_PANEL_KKC,
    /*placeholderArt*/ res::IDB_SCREEN_PLACEHOLDER,
};

CRemoteDlgKKC::CRemoteDlgKKC(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent)
    : CRemoteDlg(kProfile, ScreenPipeline{StretchToScreen, {}, {}}, store, presenter, parent)
{
    // Resized by the operator, the panel scales with the window (see CPanelZoomer).
    setFocusPolicy(Qt::StrongFocus);
}

void CRemoteDlgKKC::CreatePanel()
{
    m_panel = res::LoadBitmap(kProfile.panelArt);
    for (const res::layout::KkcKey &key : res::layout::KkcKeys()) {
        auto *button = new CQxButton(this, key.id);
        button->setObjectName(QString::number(key.id));
        button->setText(QString::fromUtf8(key.legend));
        button->setFocusPolicy(Qt::NoFocus);
        // Placed as listed; the face then gives the key its size.
        button->PlaceOnPanel(QRect(key.x, key.y, key.w, key.h), true);
        m_keys[key.id] = button;
        ShowKeyHeld(key.id, false);
        const int id = key.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }

    m_knob = new CKnobButton(this, ids::IDC_KKC_KNOB);
    m_knob->setObjectName(QString::number(ids::IDC_KKC_KNOB));
    m_knob->setText(QStringLiteral("Knob"));
    m_knob->PlaceOnPanel(QRect(res::layout::kKkcKnobPos, QSize(kKnobSize, kKnobSize)), false);
    int knobIds[13];
    knobIds[0] = res::IDB_KNOB_KKC_DISABLED;
    for (int notch = 1; notch <= 12; ++notch)
        knobIds[notch] = res::IDB_KNOB_KKC_FIRST + notch - 1;
    m_knob->SetKnobGeometry(knobIds);
    m_knob->m_pOwner = this;
}

void CRemoteDlgKKC::ShowKeyHeld(int id, bool held)
{
    CQxButton *button = Key(id);
    if (!button)
        return;
    const int normal = res::KkcKeyFace(id, res::Face::Normal);
    const int pressed = res::KkcKeyFace(id, res::Face::Pressed);
    const int disabled = res::KkcKeyFace(id, res::Face::Disabled);
    // While the PC key is held the pressed face stands in for the normal one.
    button->SetBitmaps(held ? pressed : normal, pressed, normal, disabled);
    button->repaint();
}

bool CRemoteDlgKKC::OnCommand(int id)
{
    if (const res::layout::KkcKey *key = res::layout::FindKkcKey(id)) {
        if (IsStarted(State()))
            SendKeyCommand(key->command);
        return true;
    }
    return CRemoteDlg::OnCommand(id);
}

void CRemoteDlgKKC::ForwardScreenClick(const QPoint &point)
{
    QPoint at;
    if (ScreenOffset(point, at))
        SendKeyCommand(QString::asprintf("KEYP %d,%d", at.x(), at.y()).toStdString());
}

int CRemoteDlgKKC::PanelKeyFor(int qtKey, Qt::KeyboardModifiers modifiers)
{
    return res::layout::KkcKeyForPcKey(qtKey, (modifiers & Qt::KeypadModifier) != 0);
}

int CRemoteDlgKKC::PanelKeyFor(const QKeyEvent *event) const
{
    return PanelKeyFor(event->key(), event->modifiers());
}

void CRemoteDlgKKC::PaintPanel(QPainter &painter)
{
    painter.fillRect(rect(), Qt::white);
    if (!m_panel.isNull())
        painter.drawImage(QPoint(0, 0), m_panel);
}
