// A panel of either family with the room feature, shown on the (offscreen) screen so that
// mouse and keys come through the window system's routing as the operator's would.
#pragma once

#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "CRoomFeature.h"
#include "PanelHarness.h"

#include <QtTest/QTest>

#include <initializer_list>
#include <type_traits>

template <typename Panel>
struct RoomHarness : BasicPanelHarness<Panel>
{
    static constexpr KeyTable kTable =
        std::is_same_v<Panel, CRemoteDlgLK> ? KeyTable::Lk : KeyTable::Kkc;
    CRoomFeature *room = nullptr;

    void OpenRoom(int method)
    {
        this->Open(method);
        auto feature = std::make_unique<CRoomFeature>(*this->panel, kTable);
        room = feature.get();
        this->panel->AddFeature(std::move(feature));
    }
    bool Show()
    {
        this->panel->show();
        return QTest::qWaitForWindowExposed(this->panel.get());
    }
    QWindow *Window() { return this->panel->windowHandle(); }

    // The window pixels showing a panel pixel: its first and its last.
    QPoint FirstPixel(QPoint panelPoint)
    {
        return this->panel->Zoom().ToWindow(QRect(panelPoint, QSize(1, 1))).topLeft();
    }
    QPoint LastPixel(QPoint panelPoint)
    {
        return this->panel->Zoom().ToWindow(QRect(panelPoint, QSize(1, 1))).bottomRight();
    }
    void ClickWindow(QPoint at) { QTest::mouseClick(Window(), Qt::LeftButton, {}, at); }

    // Clicks every panel point at the first and at the last window pixel showing it, and
    // returns what reached the instrument.
    std::vector<std::string> ClickPanelPoints(std::initializer_list<QPoint> points)
    {
        this->Settle();
        this->instrument->ClearReceivedCommands();
        for (QPoint p : points) {
            ClickWindow(FirstPixel(p));
            ClickWindow(LastPixel(p));
        }
        return this->Sent();
    }
};
