#include "CRemoteDlgLK.h"

#include "CImage.h"
#include "CKnobButton.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CQxButton.h"
#include "CScreenView.h"
#include "CSessionStatusBar.h"
#include "LkKeyTable.h"
#include "LkModelTable.h"
#include "LkScale.h"
#include "LkScreenPicture.h"
#include "Resources.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

constexpr const char *kClickFormat = "KEYP %d,%d";
constexpr const char *kScaleMenuTitle = "Scale";
constexpr const char *kScaleTexts[lk::kScaleCount] = {"100%", "85%", "70%"};

constexpr int kStatusBarHeight = CSessionStatusBar::kHeight;
// Panes 1 to 3 and their gaps take this much of the status bar; pane 0 has the rest.
constexpr int kStatusBarReserved = 450;

// Refresh worker, once the picture has been handed to the window: the scaled copy beside the
// screen file. Nothing reads it back; a failed save is of no consequence.
void SaveCopyAtScale(const QImage &shown, const QString &imagePath, int scale)
{
    if (scale != 0)
        (void)lk::SaveScaledCopy(
            shown, lk::ScaledImagePath(imagePath, scale, QFileInfo(imagePath).absolutePath()));
}

} // namespace

const PanelProfile CRemoteDlgLK::kProfile = {
    /*keySpacingMs*/ 0,
    /*refreshPauseMs*/ 300,
    /*usbWaitCount*/ 31,
    /*tcpTimeFormat*/ "%.3f, %d",
    /*usbTimeFormat*/ "%.3f",
    /*tcpReceiveFail*/ "Receive Fail : %s",
    /*usbReceiveFail*/ "Receive Fail : %s\n",
    /*longRightStep*/ false,
    /*logLineFeed*/ true,
    /*disconnectOnSendFailure*/ false,
    /*qualityOnStart*/ true,
    /*clientSize*/ {1290, 820},
    /*screen*/ res::layout::kLkScreen100,
    /*screenSize*/ {lk::kScreenWidth, lk::kScreenHeight},
    /*panelArt*/ 0,
    /*placeholderArt*/ 0,
};

CRemoteDlgLK::CRemoteDlgLK(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent)
    : CRemoteDlg(kProfile,
                 ScreenPipeline{lk::ScaleScreenPicture, lk::DecodeScaledInHalves, SaveCopyAtScale},
                 store, presenter, parent),
      m_nModelGroup(lk::kInitialModelGroup)
{
    // A fixed frame with caption, system menu and minimise box: no sizing, no maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    SetPane0Margin(kStatusBarReserved);
    move(0, 0);
}

QSize CRemoteDlgLK::FrameExtra() const
{
    const QSize extra = frameGeometry().size() - geometry().size();
    return {std::max(0, extra.width()), std::max(0, extra.height())};
}

void CRemoteDlgLK::CreatePanel()
{
    for (const LkKey &key : lk::Keys()) {
        auto *button = new CQxButton(this, key.id);
        button->setText(QString::fromUtf8(key.legend));
        button->setFocusPolicy(Qt::StrongFocus);
        m_keys[key.id] = button;
        const int id = key.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }
    m_knob = new CKnobButton(this, lk::kKnob);
    m_knob->setText(QStringLiteral("Knob"));
    m_knob->m_pOwner = this;

    // Until the first picture arrives the panel picture's own screen area shows.
    if (CScreenView *view = ScreenView()) {
        view->hide();
        connect(this, &CRemoteDlg::pictureShown, view, &QWidget::show);
    }

    ApplyScaleFaces();
    LayoutPanel();
    SetKnobGeometry();
}

void CRemoteDlgLK::ShowKeyHeld(int id, bool held)
{
    CQxButton *button = Key(id);
    if (!button)
        return;
    const int scale = Scale();
    const int normal = res::LkKeyFace(id, scale, res::Face::Normal);
    const int pressed = res::LkKeyFace(id, scale, res::Face::Pressed);
    const int focus = res::LkKeyFace(id, scale, res::Face::Focus);
    const int disabled = res::LkKeyFace(id, scale, res::Face::Disabled);
    // While the PC key is held the pressed face stands in for the normal one.
    button->SetBitmaps(held ? pressed : normal, pressed, focus, disabled);
    button->repaint();
}

void CRemoteDlgLK::ApplyScaleFaces()
{
    // The layout step that follows gives every key and the knob the size of the rule.
    for (const auto &entry : m_keys)
        ShowKeyHeld(entry.first, false);
    if (m_knob) {
        const int first = res::LkKnob(Scale(), 1);
        m_knob->SetBitmaps(first, first, first, res::LkKnob(Scale(), 0));
    }
}

void CRemoteDlgLK::ApplyOuterSize()
{
    // The window system draws the frame; the client takes what the outer size leaves, and the
    // panel what the status bar leaves of that. Zoomed, the window is that many times larger.
    m_frameAtLayout = FrameExtra();
    SetPanelSize(PanelSizeWithin(m_frameAtLayout), true);
}

QSize CRemoteDlgLK::PanelSizeWithin(QSize frame) const
{
    return lk::OuterSize(Scale()) - frame - QSize(0, kStatusBarHeight);
}

void CRemoteDlgLK::LayoutPanel()
{
    ApplyOuterSize();

    m_rcScreen = lk::ScreenRect(Scale());

    // The rectangles follow the scaling rule, not the faces: a face a pixel larger than its
    // key is clipped, so the key is held at its size whatever face it shows.
    auto place = [this](CQxButton *control, int id) {
        if (!control)
            return;
        control->PlaceOnPanel(lk::KeyRect(id, Scale()), false);
        control->update();
    };
    for (const LkKey &key : lk::Keys()) {
        place(Key(key.id), key.id);
        if (key.id == res::layout::kLkKnobAfter)
            place(m_knob, lk::kKnob);
    }
    // The screen, the status bar and the zoom of everything placed.
    ApplyZoom();
}

void CRemoteDlgLK::SetKnobGeometry()
{
    if (!m_knob)
        return;
    int table[13];
    for (int i = 0; i < 13; ++i)
        table[i] = res::LkKnob(Scale(), i);
    m_knob->SetKnobGeometry(table);
}

bool CRemoteDlgLK::OnCommand(int id)
{
    if (const LkKey *key = lk::FindKey(id)) {
        if (IsStarted(State()))
            SendKeyCommand(key->command);
        return true;
    }
    if (id >= ID_SCALE_100 && id <= ID_SCALE_70) {
        OnScale(id - ID_SCALE_100);
        return true;
    }
    return CRemoteDlg::OnCommand(id);
}

void CRemoteDlgLK::OnScale(int scale)
{
    if (scale < 0 || scale >= lk::kScaleCount || scale == Scale())
        return;
    Session().SetScale(scale);
    ApplyScaleFaces();
    LayoutPanel();
    SetKnobGeometry();
    // The last picture has the old size: the panel's own screen area shows until the next.
    if (CScreenView *view = ScreenView())
        view->hide();
    if (scale == 0 && isVisible() && !IsFullScreen()) {
        // Hidden and shown again so that the whole enlarged window is repainted. The plain
        // widget calls are used: hiding a dialog through QDialog would end its modal loop and
        // with it the program.
        QWidget::setVisible(false);
        QWidget::setVisible(true);
    }
    update();
    Store().WriteScale(scale);
}

void CRemoteDlgLK::showEvent(QShowEvent *event)
{
    CRemoteDlg::showEvent(event);
    // The frame may only be known once the window exists on screen. A window fitted to its
    // size or to the screen keeps its panel as it is.
    if (IsZoomFixed() &&
        (FrameExtra() != m_frameAtLayout || size() != ClientSizeFor(PanelSizeWithin(FrameExtra()))))
        LayoutPanel();
}

void CRemoteDlgLK::moveEvent(QMoveEvent *event)
{
    CRemoteDlg::moveEvent(event);
    // A window manager frames the window after it is shown: the outer size must still come
    // out as the scale's, so the client gives up what the frame takes.
    if (isVisible() && IsZoomFixed() && FrameExtra() != m_frameAtLayout)
        LayoutPanel();
}

QMenu *CRemoteDlgLK::BuildContextMenu()
{
    QMenu *menu = CRemoteDlg::BuildContextMenu();
    QAction *quality = nullptr;
    for (QAction *action : menu->actions())
        if (action->menu()) {
            quality = action;
            break;
        }
    auto *scaleMenu = new QMenu(QString::fromLatin1(kScaleMenuTitle), menu);
    for (int scale = 0; scale < lk::kScaleCount; ++scale) {
        QAction *item = scaleMenu->addAction(QString::fromLatin1(kScaleTexts[scale]));
        item->setData(ID_SCALE_100 + scale);
        item->setObjectName(QString::number(ID_SCALE_100 + scale));
        item->setCheckable(true);
        item->setChecked(scale == Scale());
    }
    if (quality)
        menu->insertMenu(quality, scaleMenu);
    else
        menu->addMenu(scaleMenu);
    return menu;
}

int CRemoteDlgLK::ClassifyModel(const std::string &text)
{
    m_nModelGroup = lk::ModelGroupOf(text);
    return m_nModelGroup;
}

void CRemoteDlgLK::OnConnected(const QByteArray &equipInfo)
{
    ClassifyModel(std::string(
        lk::ModelTextOf(std::string_view(equipInfo.constData(), std::size_t(equipInfo.size())))));
}

void CRemoteDlgLK::ForwardScreenClick(const QPoint &point)
{
    if (m_nModelGroup != lk::kTouchGroup)
        return;
    QPoint offset;
    if (!ScreenOffset(point, offset))
        return;
    const QPoint at = lk::ClickToInstrument(offset.x(), offset.y(), Scale());
    SendKeyCommand(QString::asprintf(kClickFormat, at.x(), at.y()).toStdString());
}

int CRemoteDlgLK::PanelKeyFor(const QKeyEvent *event) const
{
    return lk::KeyForPcKey(event->key(), (event->modifiers() & Qt::KeypadModifier) != 0);
}

bool CRemoteDlgLK::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent *>(event)->button() == Qt::RightButton && watched->isWidgetType()) {
        // A key takes a right press itself (even while disabled): no menu opens over a key.
        QWidget *widget = static_cast<QWidget *>(watched);
        if (widget == m_knob || (Key(widget->objectName().toInt()) == widget))
            return true;
    }
    return CRemoteDlg::eventFilter(watched, event);
}

void CRemoteDlgLK::PaintPanel(QPainter &painter)
{
    painter.fillRect(rect(), palette().window());
    const QImage panel = res::LoadBitmap(res::LkPanel(Scale()));
    if (!panel.isNull())
        painter.drawImage(QPoint(0, 0), panel);
}
