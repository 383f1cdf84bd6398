#include "DialogFit.h"

#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <algorithm>

QLabel *MakeWrappedLabel(const QString &text, int controlId, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::number(controlId));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

void SetLeastSize(QWidget *widget, const QSize &least)
{
    widget->setMinimumSize(least.expandedTo(widget->minimumSizeHint()));
}

void FitDialogToTexts(QDialog *dialog, const QSize &least)
{
    QLayout *layout = dialog->layout();
    if (!layout) {
        dialog->setFixedSize(least);
        return;
    }
    // The size is set here, once; the layout only places the controls within it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->activate();
    const QSize minimum = layout->totalMinimumSize();
    const int width = std::max(least.width(), minimum.width());
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                   : layout->totalSizeHint().height();
    dialog->setFixedSize(width, std::max({height, minimum.height(), least.height()}));
}
