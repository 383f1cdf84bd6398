// The front panel of the LK instrument family: 34 keys, the knob and an 800 x 600 screen,
// shown at 100 %, 85 % or 70 %, with screen touches forwarded for the models that take them.
#pragma once

#include "CRemoteDlg.h"

#include <string>

class CRemoteDlgLK : public CRemoteDlg
{
    Q_OBJECT
public:
    static constexpr int ID_SCALE_100 = 32777;
    static constexpr int ID_SCALE_85 = 32778;
    static constexpr int ID_SCALE_70 = 32779;

    static const PanelProfile kProfile;

    explicit CRemoteDlgLK(CPrefStore *store = nullptr, CSessionPresenter *presenter = nullptr,
                          QWidget *parent = nullptr);

    bool OnCommand(int id) override;
    QMenu *BuildContextMenu() override;

    // Sorts a reported model text into its group and keeps the group.
    int ClassifyModel(const std::string &text);
    int ModelGroup() const { return m_nModelGroup; }

    // Loads the current scale's faces into every key and the knob; LayoutPanel then gives
    // each the size of the scaling rule.
    void ApplyScaleFaces();
    // Sizes the window and places the screen, status bar, keys and knob for the current scale.
    void LayoutPanel();
    // Hands the knob the 13 pictures of the current scale (disabled face first).
    void SetKnobGeometry();

    // The frame's share of the outer size, as the window system reports it now.
    QSize FrameExtra() const;

protected:
    void CreatePanel() override;
    int PanelKeyFor(const QKeyEvent *event) const override;
    void ShowKeyHeld(int id, bool held) override;
    void OnConnected(const QByteArray &equipInfo) override;
    void ForwardScreenClick(const QPoint &point) override;
    void PaintPanel(QPainter &painter) override;

    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void OnScale(int scale);
    void ApplyOuterSize();
    // The panel's size in panel pixels when the window system's frame takes `frame` of the
    // scale's outer size and the status bar its height of the rest.
    QSize PanelSizeWithin(QSize frame) const;
    int Scale() const { return Session().m_nScale; }

    int m_nModelGroup;
    // The frame the window system gave the window when its size was last set.
    QSize m_frameAtLayout;
};
