#include "VLineEdit.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QLineEdit>

VLineEdit::VLineEdit(QWidget *parent)
    : QGraphicsView(parent)
    , le(new QLineEdit)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *scene = new QGraphicsScene(this);
    scene->addWidget(le); // the scene's proxy owns the line edit
    setScene(scene);
    rotate(90);
}

QString VLineEdit::text() const
{
    return le->text();
}

void VLineEdit::setText(const QString &t)
{
    le->setText(t);
}

QSize VLineEdit::sizeHint() const
{
    return le->sizeHint().transposed();
}
