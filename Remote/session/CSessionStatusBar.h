// The panel's status bar: four panes (pane 1 with the link icon), white, and a busy bar with
// Cancel that shows while a connect runs in the background.
#pragma once

#include <QStatusBar>

class QIcon;
class QLabel;
class QTimer;

class CSessionStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    static constexpr int kHeight = 20;
    static constexpr int kPaneCount = 4;

    // Placed at the bottom of `parent`; pane 0 takes the client width less `pane0Margin`.
    CSessionStatusBar(QWidget *parent, int pane0Margin);

    void SetPane(int pane, const QString &text);
    QString PaneText(int pane) const;
    void SetPaneWidth(int pane, int width);
    void SetLinkIcon(const QIcon &icon);
    // Pane 0 shows `text` for `ms` milliseconds, then goes blank again (unless something else
    // has been written there meanwhile); 0 keeps it until the next text.
    void ShowNote(const QString &text, int ms);
    void ShowBusy(bool busy);

signals:
    void cancelRequested();

private:
    void ApplyWidths();

    QLabel *m_panes[kPaneCount] = {};
    int m_widths[kPaneCount] = {};
    int m_pane1Extra = 0; // pane 1's text is that much wider than its pane
    QLabel *m_icon = nullptr;
    QWidget *m_busyBox = nullptr;
    QTimer *m_noteTimer = nullptr;
    QString m_note;
};
