#include "Body.h"

#include "Config.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

Body::Body(QWidget *parent) : QFrame(parent)
{
    setWindowTitle("Vexa2");
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Vexa2 CT reconstruction"), this));
    execConfigLines();
}

Body::~Body() = default;

void Body::execConfigLines()
{
    for (const QString &line : std::as_const(config.lines))
        Q_UNUSED(line);
}

void Body::closeEvent(QCloseEvent *event)
{
    emit finishing();
    QFrame::closeEvent(event);
}
