#include "CShortcutsWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr const char *kTitle = "Keyboard Shortcuts";
constexpr const char *kColumns[] = {"PC key", "Panel key", "Command"};
constexpr const char *kNotes =
    "Keys act while remote control is started; a key is sent when it is released.\n"
    "F11 switches full screen on and off. The right mouse button opens the menu.";

constexpr int kColumnGap = 18;

} // namespace

CShortcutsWindow::CShortcutsWindow(KeyTable table, QWidget *parent)
    : QDialog(parent), m_table(table)
{
    setWindowTitle(QString::fromLatin1(kTitle));
    setObjectName(QStringLiteral("KeyboardShortcuts"));
    auto *layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setAlternatingRowColors(true);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QStringList headers;
    for (const char *column : kColumns)
        headers << QString::fromLatin1(column);
    m_list->setHeaderLabels(headers);
    layout->addWidget(m_list, 1);
    auto *notes = new QLabel(QString::fromLatin1(kNotes), this);
    notes->setWordWrap(true);
    layout->addWidget(notes);
    Refresh(false);
}

void CShortcutsWindow::Refresh(bool digitRowAsKeypad)
{
    m_list->clear();
    for (const KeyMapRow &row : KeyMapRows(m_table, digitRowAsKeypad)) {
        auto *item = new QTreeWidgetItem(m_list, {row.pcKeys, row.panelKey, row.command});
        item->setData(0, Qt::UserRole, row.id);
    }
    for (int column = 0; column < m_list->columnCount(); ++column) {
        m_list->resizeColumnToContents(column);
        m_list->setColumnWidth(column, m_list->columnWidth(column) + kColumnGap);
    }
    // Tall enough for every row, so that nothing needs scrolling.
    const int rows = m_list->topLevelItemCount();
    const int rowHeight = rows ? m_list->sizeHintForRow(0) : 0;
    int width = 0;
    for (int column = 0; column < m_list->columnCount(); ++column)
        width += m_list->columnWidth(column);
    m_list->setMinimumSize(width + 2 * m_list->frameWidth() + 24,
                           m_list->header()->sizeHint().height() + rows * rowHeight +
                               2 * m_list->frameWidth() + 4);
}
