#include "ClosableBase.h"

ClosableBase::ClosableBase(QWidget *parent)
    : QFrame(parent)
{ }

void ClosableBase::closeEvent(QCloseEvent *e)
{
    emit closed();
    QFrame::closeEvent(e);
}
