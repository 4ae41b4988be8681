#pragma once

#include <QFrame>

#include <memory>

namespace Ui {
class SeekCtrl;
}

// Chooses an index with a slider, a spin box, or steps of ten; both widgets always show
// the same index and every change of it is announced once.
class SeekCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit SeekCtrl(QWidget *parent = nullptr);
    ~SeekCtrl() override;

    int index() const;
    int maximum() const;
    // Sets the highest index of both widgets (the lowest is 0).
    void setMaximum(int max);
    // Goes to idx (clamped to the range); announced only when the index changes.
    void setIndex(int idx);

signals:
    void newIndex(int idx);

public slots:
    void sliderMoved(int val);
    void indexChanged(int val);
    void inc();
    void dec();

private:
    std::unique_ptr<Ui::SeekCtrl> ui;
};
