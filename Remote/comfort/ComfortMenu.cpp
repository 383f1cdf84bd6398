#include "ComfortMenu.h"

#include <QAction>
#include <QMenu>

QAction *AddCommandItem(QMenu &menu, const QString &text, int id, bool checked)
{
    QAction *action = menu.addAction(text);
    action->setData(id);
    action->setObjectName(QString::number(id));
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}
