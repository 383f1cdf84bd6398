// A menu item of a feature, carrying its command identifier the way the panel's own do.
#pragma once

class QAction;
class QMenu;
class QString;

QAction *AddCommandItem(QMenu &menu, const QString &text, int id, bool checked);
