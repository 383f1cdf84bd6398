// The LK window itself: sizes and places at each scale, scale commands and their storage,
// start-up from a stored scale, and the right-click menu.
#include "CRemoteDlgLK.h"
#include "PanelHarness.h"

#include "CKnobButton.h"
#include "CQxButton.h"
#include "LkKeyTable.h"
#include "LkScale.h"
#include "Resources.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>

#include <gtest/gtest.h>

using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

namespace {

struct Expected
{
    QSize outer;
    QRect screen;
    int pane0;
};

// Published outer sizes and screen rectangles; pane 0 is the client width less 450.
const Expected kExpected[3] = {
    {{1290, 820}, {41, 39, 800, 600}, 840},
    {{1096, 700}, {34, 33, 680, 510}, 646},
    {{902, 581}, {28, 27, 559, 419}, 452},
};

// A few published key rectangles per scale (the whole table is checked without a window).
struct KeyAt
{
    int id;
    QRect at[3];
};
const KeyAt kKeys[] = {
    {1013, {{902, 38, 59, 42}, {766, 32, 50, 35}, {631, 26, 41, 29}}},
    {1019, {{906, 493, 52, 44}, {770, 419, 44, 37}, {634, 345, 36, 30}}},
    {1022, {{38, 705, 98, 32}, {32, 599, 83, 27}, {26, 493, 68, 22}}},
    {1044, {{1213, 177, 52, 63}, {1031, 150, 44, 53}, {849, 123, 36, 44}}},
    {1042, {{1096, 669, 153, 45}, {931, 568, 130, 38}, {767, 468, 107, 31}}},
    {1061, {{1030, 120, 177, 177}, {875, 102, 150, 150}, {720, 83, 123, 123}}},
};

// The keys as Start enables them, without a session.
void EnableKeys(CRemoteDlgLK &panel)
{
    for (CQxButton *key : panel.findChildren<CQxButton *>())
        key->setEnabled(true);
}

QWidget *Control(CRemoteDlgLK &panel, int id)
{
    return id == lk::kKnob ? static_cast<QWidget *>(panel.Knob()) : panel.Key(id);
}

int Pane0Width(CRemoteDlgLK &panel)
{
    // Pane 0 always reads " ".
    for (QLabel *label : panel.findChild<QStatusBar *>()->findChildren<QLabel *>())
        if (label->text() == QLatin1String(" "))
            return label->parentWidget()->width();
    return -1;
}

void ExpectLayout(CRemoteDlgLK &panel, int scale)
{
    SCOPED_TRACE(scale);
    const Expected &e = kExpected[scale];
    EXPECT_EQ(panel.Session().m_nScale, scale);
    EXPECT_EQ(panel.frameGeometry().size(), e.outer);
    EXPECT_EQ(panel.m_rcScreen, e.screen);
    const QSize client = panel.size();
    EXPECT_EQ(panel.findChild<QStatusBar *>()->geometry(),
              QRect(0, client.height() - 20, client.width(), 20));
    EXPECT_EQ(Pane0Width(panel), client.width() - 450);
    if (panel.FrameExtra().isNull()) {
        EXPECT_EQ(Pane0Width(panel), e.pane0);
    }
    for (const KeyAt &key : kKeys)
        EXPECT_EQ(Control(panel, key.id)->geometry(), key.at[scale]) << key.id;
    // Every control sits where the table puts it.
    for (const LkKey &key : lk::Keys())
        EXPECT_EQ(Control(panel, key.id)->geometry(), lk::KeyRect(key.id, scale)) << key.id;
}

// Counts the window's hide and show events.
struct VisibilityCounter : QObject
{
    int hides = 0;
    int shows = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            ++hides;
        else if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

} // namespace

TEST(LkWindow, LayoutAtEveryScaleMatchesThePublishedValues)
{
    LkHarness h;
    h.Open();
    h.panel->show();
    ExpectLayout(*h.panel, 0);
    EXPECT_EQ(h.panel->frameGeometry().topLeft(), QPoint(0, 0));
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_85);
    ExpectLayout(*h.panel, 1);
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    ExpectLayout(*h.panel, 2);
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_100);
    ExpectLayout(*h.panel, 0);
    EXPECT_EQ(h.panel->frameGeometry().topLeft(), QPoint(0, 0));
}

TEST(LkWindow, KeysKeepTheirRuleSizeWhateverFaceTheyShow)
{
    LkHarness h;
    h.Open();
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_85);
    CQxButton *esc = h.panel->Key(1013);
    // At 85 % the ESC face is 50 x 36 but the key 50 x 35: enabling it must not regrow it.
    EXPECT_EQ(esc->Face(CQxButton::Normal).size(), QSize(50, 36));
    EnableKeys(*h.panel);
    QCoreApplication::processEvents();
    EXPECT_EQ(esc->size(), QSize(50, 35));
    h.panel->show();
    esc->setDown(true);
    esc->repaint();
    EXPECT_EQ(esc->size(), QSize(50, 35));
    esc->setDown(false);
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    EXPECT_EQ(h.panel->Key(1014)->Face(CQxButton::Normal).size(), QSize(36, 31));
    EXPECT_EQ(h.panel->Key(1014)->size(), QSize(36, 30));
    EXPECT_EQ(h.panel->Knob()->Face(CQxButton::Normal).size(), QSize(124, 124));
    EXPECT_EQ(h.panel->Knob()->size(), QSize(123, 123));
    // The knob's centre follows its laid-out size.
    EXPECT_EQ(h.panel->Knob()->Center(), QPoint(61, 61));
}

TEST(LkWindow, FacesFollowTheScale)
{
    LkHarness h;
    h.Open();
    const std::pair<int, QSize> faces[3][3] = {
        {{1013, {59, 42}}, {1042, {153, 45}}, {1043, {63, 52}}},
        {{1013, {50, 36}}, {1042, {130, 38}}, {1043, {54, 44}}},
        {{1013, {41, 29}}, {1042, {107, 32}}, {1043, {44, 36}}},
    };
    const int commands[3] = {CRemoteDlgLK::ID_SCALE_100, CRemoteDlgLK::ID_SCALE_85,
                             CRemoteDlgLK::ID_SCALE_70};
    for (int s : {1, 2, 0}) {
        h.panel->OnCommand(commands[s]);
        for (const auto &[id, size] : faces[s]) {
            const CQxButton *key = h.panel->Key(id);
            EXPECT_EQ(key->Face(CQxButton::Normal).size(), size) << id << " at " << s;
            EXPECT_EQ(key->Face(CQxButton::Disabled),
                      res::LoadBitmap(res::LkKeyFace(id, s, res::Face::Disabled)));
        }
        EXPECT_EQ(h.panel->Knob()->Face(CQxButton::Disabled), res::LoadBitmap(res::LkKnob(s, 0)));
    }
}

TEST(LkWindow, SameScaleIsANoOpAndOnlyGoingTo100HidesAndShows)
{
    LkHarness h;
    h.Preset("Method", 2); // the store exists
    h.Open();
    h.panel->show();
    VisibilityCounter counter;
    h.panel->installEventFilter(&counter);

    QSettings(h.IniPath(), QSettings::IniFormat).remove("Connection/Scale");
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_100);
    EXPECT_FALSE(h.Stored("Scale").isValid());
    EXPECT_EQ(counter.hides, 0);

    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_85);
    EXPECT_EQ(h.Stored("Scale").toInt(), 1);
    EXPECT_EQ(counter.hides, 0);
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    EXPECT_EQ(h.Stored("Scale").toInt(), 2);
    EXPECT_EQ(counter.hides, 0);

    QSettings(h.IniPath(), QSettings::IniFormat).remove("Connection/Scale");
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    EXPECT_FALSE(h.Stored("Scale").isValid());

    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_100);
    EXPECT_EQ(counter.hides, 1);
    EXPECT_EQ(counter.shows, 1);
    EXPECT_TRUE(h.panel->isVisible());
    EXPECT_EQ(h.Stored("Scale").toInt(), 0);
    h.panel->removeEventFilter(&counter);
}

TEST(LkWindow, WithoutAStoreTheScaleHoldsForTheRunOnly)
{
    LkHarness h;
    h.Open();
    ASSERT_FALSE(h.store->Exists());
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    EXPECT_EQ(h.panel->Session().m_nScale, 2);
    EXPECT_FALSE(h.Stored("Scale").isValid());
    EXPECT_FALSE(h.store->Exists());
}

TEST(LkWindow, StartsAtTheTopLeftWithTheStoredScale)
{
    LkHarness h;
    h.Preset("Scale", 2);
    h.Open();
    h.panel->show();
    EXPECT_EQ(h.panel->frameGeometry(), QRect(0, 0, 902, 581));
    ExpectLayout(*h.panel, 2);
    EXPECT_EQ(h.panel->Key(1013)->Face(CQxButton::Normal).size(), QSize(41, 29));
    EXPECT_EQ(h.panel->Knob()->Face(CQxButton::Disabled).size(), QSize(124, 124));
    // Turning the knob shows 70 % pictures.
    EnableKeys(*h.panel);
    h.panel->Knob()->Step(3);
    EXPECT_EQ(h.panel->Knob()->Face(CQxButton::Normal), res::LoadBitmap(res::LkKnob(2, 4)));
}

TEST(LkWindow, WindowCannotBeResizedOrMaximised)
{
    LkHarness h;
    h.Open();
    h.panel->show();
    const QSize before = h.panel->size();
    h.panel->resize(before + QSize(100, 100));
    EXPECT_EQ(h.panel->size(), before);
    EXPECT_FALSE(h.panel->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(h.panel->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(LkWindow, ScaleSwitchKeepsAModalRunGoing)
{
    // Hiding a dialog through QDialog ends exec(): the switch to 100 % must not close the
    // program.
    LkHarness h;
    h.Preset("Scale", 2);
    h.Open();
    bool runningAfterSwitch = false;
    QTimer::singleShot(50, h.panel.get(), [&] {
        h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_100);
        QTimer::singleShot(200, h.panel.get(), [&] {
            runningAfterSwitch = h.panel->isVisible();
            h.panel->close();
        });
    });
    // Only a hang trips this.
    QTimer::singleShot(20000, h.panel.get(), [&] { h.panel->done(99); });
    h.panel->exec();
    EXPECT_TRUE(runningAfterSwitch);
}

TEST(LkWindow, MenuHasTheScaleSubmenuCheckedAndNeverGrayed)
{
    LkHarness h;
    h.Open();
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_85);
    std::unique_ptr<QMenu> menu(h.panel->BuildContextMenu());
    QStringList top;
    for (QAction *a : menu->actions())
        top << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(top.join('|'), "Connect|Disconnect|-|Start|Stop|-|Scale|Quality|-|Communication|-|"
                             "Infomation");
    const char *texts[3] = {"100%", "85%", "70%"};
    for (int s = 0; s < 3; ++s) {
        auto *item = menu->findChild<QAction *>(QString::number(32777 + s));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(), texts[s]);
        EXPECT_EQ(item->data().toInt(), 32777 + s);
        EXPECT_EQ(item->isChecked(), s == 1);
        EXPECT_TRUE(item->isEnabled());
    }
    // The quality items stay gray while disconnected; the scale items do not.
    EXPECT_FALSE(menu->findChild<QAction *>("32780")->isEnabled());
}

TEST(LkWindow, RightClickOpensTheMenuOnThePanelButNotOnAKey)
{
    LkHarness h;
    h.Open();
    h.panel->show();
    int popups = 0;
    bool scaleChecked = false;
    auto closePopup = [&] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            ++popups;
            if (auto *item = popup->findChild<QAction *>("32777"))
                scaleChecked = item->isChecked();
            popup->close();
        }
    };
    auto rightPress = [](QWidget *target, QPoint at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    };

    QTimer::singleShot(100, closePopup);
    rightPress(h.panel->Key(1022), QPoint(10, 10));
    Spin(300);
    EXPECT_EQ(popups, 0);
    QTimer::singleShot(100, closePopup);
    EnableKeys(*h.panel);
    rightPress(h.panel->Knob(), QPoint(88, 88));
    Spin(300);
    EXPECT_EQ(popups, 0);

    QTimer::singleShot(100, closePopup);
    rightPress(h.panel.get(), QPoint(5, 5));
    Spin(300);
    EXPECT_EQ(popups, 1);
    EXPECT_TRUE(scaleChecked);
}
