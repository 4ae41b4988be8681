#pragma once

#include <QCloseEvent>
#include <QFrame>

// A frame that tells its owner when the user closes it.
class ClosableBase : public QFrame
{
    Q_OBJECT
public:
    explicit ClosableBase(QWidget *parent = nullptr);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *e) override;
};
