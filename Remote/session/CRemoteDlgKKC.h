// The front panel of the KKC instrument family: 28 keys, the knob, an 800 x 480 screen.
#pragma once

#include "CRemoteDlg.h"

#include <map>

class CQxButton;
class CKnobButton;

class CRemoteDlgKKC : public CRemoteDlg
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1038;
    static constexpr int kHeight = 734;
    static constexpr int kMinWidth = 986;
    static constexpr int kMinHeight = 563;
    // Commands leave at least this far apart.
    static constexpr int kKeySpacingMs = 100;

    explicit CRemoteDlgKKC(CPrefStore *store = nullptr, CSessionPresenter *presenter = nullptr,
                           QWidget *parent = nullptr);
    ~CRemoteDlgKKC() override;

    void SendKeyCommand(const std::string &text) override;
    bool OnCommand(int id) override;

    CQxButton *Key(int id) const;
    CKnobButton *Knob() const { return m_knob; }
    // The panel key a PC key stands for (0 when none).
    static int PanelKeyFor(int qtKey, Qt::KeyboardModifiers modifiers);

protected:
    QSize WindowSize() const override { return {kWidth, kHeight}; }
    void CreatePanel() override;
    void SetPanelKeysEnabled(bool enabled) override;
    void ForwardScreenClick(const QPoint &point) override;
    bool HandleKey(QKeyEvent *event) override;
    void PaintPanel(QPainter &painter) override;

private:
    void SetKeyFaces(int id, bool held);

    std::map<int, CQxButton *> m_keys;
    CKnobButton *m_knob = nullptr;
    QImage m_panel;
};
