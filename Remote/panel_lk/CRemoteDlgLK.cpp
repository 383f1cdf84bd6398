#include "CRemoteDlgLK.h"

#include "CImage.h"
#include "CKnobButton.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CQxButton.h"
#include "CScreenView.h"
#include "LkKeyTable.h"
#include "LkModelTable.h"
#include "LkScale.h"
#include "LkScreenPicture.h"
#include "Resources.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>

#include <algorithm>
#include <cstring>

namespace {

constexpr const char *kQualityMedium = "KEYP:QUAL:NORM";
constexpr const char *kQualityLow = "KEYP:QUAL:LOW";
constexpr const char *kClickFormat = "KEYP %d,%d";
constexpr const char *kLogImageFailed = "Image Load Failed";
constexpr const char *kTcpTimeFormat = "%.3f, %d";
constexpr const char *kUsbTimeFormat = "%.3f";
constexpr const char *kTcpReceiveFail = "Receive Fail : %s";
constexpr const char *kUsbReceiveFail = "Receive Fail : %s\n";
constexpr const char *kScaleMenuTitle = "Scale";
constexpr const char *kScaleTexts[lk::kScaleCount] = {"100%", "85%", "70%"};

constexpr int kStatusBarHeight = 20;
// Panes 1 to 3 and their gaps take this much of the status bar; pane 0 has the rest.
constexpr int kStatusBarReserved = 450;

void Unfix(QWidget *widget)
{
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

} // namespace

CRemoteDlgLK::CRemoteDlgLK(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent)
    : CRemoteDlg(store, presenter, parent), m_nModelGroup(lk::kInitialModelGroup)
{
    // A fixed frame with caption, system menu and minimise box: no sizing, no maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    m_rcScreen = lk::ScreenRect(0);
    move(0, 0);
}

CRemoteDlgLK::~CRemoteDlgLK()
{
    // The refresh worker calls this class's overrides: it must end before they go.
    TearDown();
}

QSize CRemoteDlgLK::WindowSize() const
{
    return lk::OuterSize(0);
}

QSize CRemoteDlgLK::FrameExtra() const
{
    const QSize extra = frameGeometry().size() - geometry().size();
    return {std::max(0, extra.width()), std::max(0, extra.height())};
}

void CRemoteDlgLK::CreatePanel()
{
    for (const LkKey &key : lk::Keys()) {
        if (key.id == lk::kKnob)
            continue;
        auto *button = new CQxButton(this, key.id);
        button->setText(QString::fromUtf8(key.label));
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
        view->SetPlaceholder(QImage());
        view->hide();
        connect(this, &CRemoteDlg::pictureShown, view, &QWidget::show);
    }

    m_drawScale = m_nScale;
    ApplyScaleFaces();
    LayoutPanel();
    SetKnobGeometry();
}

CQxButton *CRemoteDlgLK::Key(int id) const
{
    const auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : it->second;
}

void CRemoteDlgLK::SetKeyFaces(int id, bool held)
{
    CQxButton *button = Key(id);
    if (!button)
        return;
    const int normal = res::LkKeyFace(id, m_nScale, res::Face::Normal);
    const int pressed = res::LkKeyFace(id, m_nScale, res::Face::Pressed);
    const int focus = res::LkKeyFace(id, m_nScale, res::Face::Focus);
    const int disabled = res::LkKeyFace(id, m_nScale, res::Face::Disabled);
    // While the PC key is held the pressed face stands in for the normal one.
    button->SetBitmaps(held ? pressed : normal, pressed, focus, disabled);
    button->repaint();
}

void CRemoteDlgLK::ApplyScaleFaces()
{
    for (auto &[id, button] : m_keys) {
        Unfix(button);
        SetKeyFaces(id, false);
        const QImage face = button->Face(CQxButton::Normal);
        if (!face.isNull())
            button->resize(face.size());
    }
    if (m_knob) {
        Unfix(m_knob);
        const int first = res::LkKnob(m_nScale, 1);
        m_knob->SetBitmaps(first, first, first, res::LkKnob(m_nScale, 0));
        const QImage face = m_knob->Face(CQxButton::Normal);
        if (!face.isNull())
            m_knob->resize(face.size());
    }
}

void CRemoteDlgLK::ApplyOuterSize()
{
    // The window system draws the frame; the client takes what the outer size leaves.
    setFixedSize(lk::OuterSize(m_nScale) - FrameExtra());
}

void CRemoteDlgLK::LayoutPanel()
{
    ApplyOuterSize();

    m_rcScreen = lk::ScreenRect(m_nScale);
    if (CScreenView *view = ScreenView())
        view->setGeometry(m_rcScreen);

    const QSize client = size();
    if (QStatusBar *bar = StatusBar()) {
        bar->setGeometry(0, client.height() - kStatusBarHeight, client.width(), kStatusBarHeight);
        SetPaneWidth(0, client.width() - kStatusBarReserved);
    }

    // The rectangles follow the scaling rule, not the faces: a face a pixel larger than its
    // key is clipped, so the key is held at its size whatever face it shows.
    for (const LkKey &key : lk::Keys()) {
        QWidget *control = key.id == lk::kKnob ? static_cast<QWidget *>(m_knob) : Key(key.id);
        if (!control)
            continue;
        const QRect r = lk::KeyRect(key.id, m_nScale);
        control->setFixedSize(r.size());
        control->move(r.topLeft());
        control->update();
    }
}

void CRemoteDlgLK::SetKnobGeometry()
{
    if (!m_knob)
        return;
    int table[13];
    for (int i = 0; i < 13; ++i)
        table[i] = res::LkKnob(m_nScale, i);
    m_knob->SetKnobGeometry(table);
}

void CRemoteDlgLK::SetPanelKeysEnabled(bool enabled)
{
    for (auto &entry : m_keys)
        entry.second->setEnabled(enabled);
    if (m_knob)
        m_knob->setEnabled(enabled);
}

bool CRemoteDlgLK::OnCommand(int id)
{
    if (id >= lk::kFirstKey && id <= lk::kLastKey) {
        if (const LkKey *key = lk::FindKey(id); key && key->command) {
            SendKeyCommand(key->command);
            return true;
        }
    }
    if (id >= ID_SCALE_100 && id <= ID_SCALE_70) {
        OnScale(id - ID_SCALE_100);
        return true;
    }
    return CRemoteDlg::OnCommand(id);
}

void CRemoteDlgLK::OnScale(int scale)
{
    if (scale < 0 || scale >= lk::kScaleCount || scale == m_nScale)
        return;
    m_nScale = scale;
    m_drawScale = scale;
    ApplyScaleFaces();
    LayoutPanel();
    SetKnobGeometry();
    // The last picture has the old size: the panel's own screen area shows until the next.
    if (CScreenView *view = ScreenView())
        view->hide();
    if (scale == 0 && isVisible()) {
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
    const QSize before = FrameExtra();
    CRemoteDlg::showEvent(event);
    // The frame may only be known once the window exists on screen.
    if (FrameExtra() != before || size() != lk::OuterSize(m_nScale) - FrameExtra())
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
        item->setChecked(scale == m_nScale);
    }
    if (quality)
        menu->insertMenu(quality, scaleMenu);
    else
        menu->addMenu(scaleMenu);
    return menu;
}

void CRemoteDlgLK::SendKeyCommand(const std::string &text)
{
    // The line feed is part of what is logged and sent; commands leave without spacing.
    const std::string line = text + '\n';
    CLog::Instance().Write(std::string_view(line));
    QueueKeyCommand(line, 0);
}

int CRemoteDlgLK::ClassifyModel(const std::string &text)
{
    m_nModelGroup = lk::ModelGroupOf(text);
    return m_nModelGroup;
}

void CRemoteDlgLK::OnConnected(const std::vector<std::uint8_t> &equipInfo)
{
    // The identification text ends at the first NUL or at the end of the reply, whichever
    // comes first: the reply need not carry a terminator.
    const auto *begin = reinterpret_cast<const char *>(equipInfo.data());
    const auto nul = std::find(equipInfo.begin(), equipInfo.end(), std::uint8_t{0});
    ClassifyModel(std::string(begin, static_cast<size_t>(nul - equipInfo.begin())));
}

void CRemoteDlgLK::OnStarted()
{
    // High is the instrument's own default and is not sent.
    if (m_nQuality == 1)
        SendKeyCommand(kQualityMedium);
    else if (m_nQuality == 2)
        SendKeyCommand(kQualityLow);
}

void CRemoteDlgLK::LogTransferTime(double seconds, int bytes, bool usb)
{
    if (usb)
        Log(QString::asprintf(kUsbTimeFormat, seconds));
    else
        Log(QString::asprintf(kTcpTimeFormat, seconds, bytes));
}

const char *CRemoteDlgLK::ReceiveFailFormat(bool usb) const
{
    return usb ? kUsbReceiveFail : kTcpReceiveFail;
}

void CRemoteDlgLK::ForwardScreenClick(const QPoint &point)
{
    if (!Link().IsConnected() || m_bStarted != 1 || m_nModelGroup != lk::kTouchGroup)
        return;
    // Left and top edges belong to the screen, right and bottom edges do not.
    const QRect &r = m_rcScreen;
    if (point.x() < r.left() || point.y() < r.top() || point.x() >= r.left() + r.width() ||
        point.y() >= r.top() + r.height())
        return;
    const QPoint at = lk::ClickToInstrument(point.x() - r.left(), point.y() - r.top(), m_nScale);
    SendKeyCommand(QString::asprintf(kClickFormat, at.x(), at.y()).toStdString());
}

bool CRemoteDlgLK::HandleKey(QKeyEvent *event)
{
    const int qtKey = event->key();
    if (m_bStarted != 1)
        return qtKey == Qt::Key_Escape || qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
    const int id = lk::KeyForPcKey(qtKey, (event->modifiers() & Qt::KeypadModifier) != 0);
    if (id == 0)
        return false;
    if (event->type() == QEvent::KeyPress) {
        SetKeyFaces(id, true);
        return true;
    }
    // A held key repeats as release-press pairs; only the real release sends.
    if (event->isAutoRepeat())
        return true;
    SetKeyFaces(id, false);
    OnCommand(id);
    return true;
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
    if (isMinimized()) {
        windowIcon().paint(&painter, QRect(width() / 2 - 16, height() / 2 - 16, 32, 32));
        return;
    }
    painter.fillRect(rect(), palette().window());
    const QImage panel = res::LoadBitmap(res::LkPanel(m_nScale));
    if (!panel.isNull())
        painter.drawImage(QPoint(0, 0), panel);
}

// Refresh worker: decodes, scales and saves; the window thread only shows the result.
void CRemoteDlgLK::DrawScreenImage(const QString &path)
{
    CImage loaded;
    if (loaded.Load(path) != 0) {
        Log(QString::fromLatin1(kLogImageFailed));
        return;
    }
    const int scale = m_drawScale;
    const QImage shown = lk::ScaleScreenPicture(loaded.Image(), scale);
    if (shown.isNull()) {
        Log(QString::fromLatin1(kLogImageFailed));
        return;
    }
    // Nothing reads the copy back; a failed save is of no consequence.
    if (scale != 0)
        (void)lk::SaveScaledCopy(shown, lk::ScaledImagePath(path, scale, ImageFolder()));
    PresentScreen(shown);
}
