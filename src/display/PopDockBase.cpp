#include "PopDockBase.h"

#include "ui_PopDockBase.h"

#include "ClosableBase.h"

#include <QGridLayout>

PopDockBase::PopDockBase(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::PopDockBase>())
    , popBase(new ClosableBase)
    , popLayout(new QGridLayout(popBase))
{
    ui->setupUi(this);
    popBase->resize(500, 500);
    popLayout->setContentsMargins(0, 0, 0, 0);
    connect(ui->PopDock, &QPushButton::clicked, this, &PopDockBase::popDock);
    connect(popBase, &ClosableBase::closed, this, &PopDockBase::moveToDockBase);
    connect(popBase, &ClosableBase::closed, this, &PopDockBase::closed);
}

PopDockBase::~PopDockBase()
{
    // The window has no parent; a popped content goes with it.
    delete popBase;
}

void PopDockBase::setWidget(QWidget *w, const QString &title)
{
    content = w;
    if (!title.isNull())
        setTitle(title);
    placeContent(poppedNow ? popLayout : ui->Layout);
}

void PopDockBase::setTitle(const QString &title)
{
    popBase->setWindowTitle(title);
}

void PopDockBase::placeContent(QGridLayout *layout)
{
    if (!content)
        return;
    // addWidget reparents the widget into the layout's widget; it must be shown again
    // because reparenting hides it.
    layout->addWidget(content, 0, 0);
    content->show();
}

void PopDockBase::popDock()
{
    if (popBase->isVisible())
        moveToDockBase();
    else
        moveToPopBase();
}

void PopDockBase::moveToDockBase()
{
    poppedNow = false;
    emit popped(false);
    placeContent(ui->Layout);
    // Also called when the user closes the window; hiding a closing window is harmless
    // and keeps a direct call from leaving an empty window on screen.
    popBase->hide();
}

void PopDockBase::moveToPopBase()
{
    poppedNow = true;
    emit popped(true);
    placeContent(popLayout);
    popBase->show();
}

void PopDockBase::setPopped(bool f)
{
    if (f != poppedNow)
        popDock();
}
