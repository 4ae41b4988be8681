#pragma once

#include "DispB.h"

#include <QFrame>
#include <QGridLayout>
#include <QPainter>

#include <memory>

namespace Ui {
class DispAWLayout;
}

// A DispB canvas inside a grid, so that derived panels can add widgets around the picture.
// The canvas's signals are re-announced under the same names.
class DispAWLayout : public QFrame
{
    Q_OBJECT
public:
    explicit DispAWLayout(QWidget *parent = nullptr);
    ~DispAWLayout() override;

    DispB *dispB() const;
    QGridLayout *gridLayout() const;

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

private:
    std::unique_ptr<Ui::DispAWLayout> ui;
};
