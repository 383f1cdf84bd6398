// Dialogs whose texts decide their size. The templates were drawn for one font; with any
// other the texts must still show whole, so the controls sit in layouts, labels wrap, and
// the template's size is only the least a dialog takes.
#pragma once

#include <QSize>
#include <QString>

class QDialog;
class QLabel;
class QWidget;

// A label of fixed text (never read as markup) that wraps at word boundaries.
QLabel *MakeWrappedLabel(const QString &text, int controlId, QWidget *parent);

// Keeps `widget` at least `least` (a template size) without cutting it below what its own
// content needs: a plain minimum size would take precedence over that. Call once the
// widget's content is in place.
void SetLeastSize(QWidget *widget, const QSize &least);

// Fixes the dialog's size: at least `least`, wider where a control cannot shrink to it, and
// as tall as its wrapped labels need at that width. Call once its layout holds everything
// and its texts are set.
void FitDialogToTexts(QDialog *dialog, const QSize &least);
