// A small window beside the panel listing which PC key stands for which panel key, read from
// the panel's key table, with the few keys the window itself knows.
#pragma once

#include "KeyMapRows.h"

#include <QDialog>

class QTreeWidget;

class CShortcutsWindow : public QDialog
{
    Q_OBJECT
public:
    CShortcutsWindow(KeyTable table, QWidget *parent);

    // Lists the table's rows again (after the digit row's meaning changed).
    void Refresh(bool digitRowAsKeypad);
    QTreeWidget *List() const { return m_list; }

private:
    KeyTable m_table;
    QTreeWidget *m_list = nullptr;
};
