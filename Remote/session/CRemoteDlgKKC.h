// The front panel of the KKC instrument family: 28 keys, the knob, an 800 x 480 screen.
#pragma once

#include "CRemoteDlg.h"

class CRemoteDlgKKC : public CRemoteDlg
{
    Q_OBJECT
public:
    // The panel picture and the status bar beneath it fill the client area.
    static constexpr int kWidth = 1023;
    static constexpr int kHeight = 699;
    static const PanelProfile kProfile;

    explicit CRemoteDlgKKC(CPrefStore *store = nullptr, CSessionPresenter *presenter = nullptr,
                           QWidget *parent = nullptr);

    bool OnCommand(int id) override;

    // The panel key a PC key stands for (0 when none).
    static int PanelKeyFor(int qtKey, Qt::KeyboardModifiers modifiers);

protected:
    void CreatePanel() override;
    int PanelKeyFor(const QKeyEvent *event) const override;
    void ShowKeyHeld(int id, bool held) override;
    void ForwardScreenClick(const QPoint &point) override;
    void PaintPanel(QPainter &painter) override;

private:
    QImage m_panel;
};
