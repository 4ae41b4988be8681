#pragma once

#include "CorSweep.h"

#include <QFrame>

#include <vector>

class ImgDispWPV;
class QLabel;
class QLineEdit;
class QPushButton;
class SeekCtrl;

// The centre-of-rotation sweep: the current slice reconstructed at From, From + Step, ... To,
// flipped through with the seek control on one grey scale (the best slice's 0.5 % and
// 99.5 % points unless the colour bar is fixed), the best (least total variation) named; "Use this
// CoR" hands the shown slice's centre to the owner. The owner supplies the sinogram and the
// parameters.
class CorSweepPanel : public QFrame
{
    Q_OBJECT
public:
    explicit CorSweepPanel(QWidget *parent = nullptr);

    void setRange(double from, double to, double step);
    double from() const;
    double to() const;
    double step() const;

    // Reconstructs at every centre of `cors` (a slice that cannot be made is left out and
    // named on the log) and shows the best. `progress` is told after each slice.
    // Returns how many slices were made.
    int run(const CorSweep::SinogramFn &sinogram, const CtParams &p,
        const std::vector<double> &cors,
        const std::function<void(int done, int count)> &progress = {});

    const std::vector<CorSweep::Slice> &slices() const { return m_slices; }
    int current() const { return m_current; }
    int bestIndex() const { return m_best; }
    ImgDispWPV *display() const { return m_disp; }
    SeekCtrl *seeker() const { return m_seek; }
    QPushButton *sweepButton() const { return m_sweep; }
    QPushButton *useButton() const { return m_use; }
    QString text() const;

signals:
    // "Sweep" was pressed with the range in the fields.
    void sweepRequested(double from, double to, double step);
    // "Use this CoR": the shown slice's centre.
    void corChosen(double cor);

public slots:
    void showSlice(int idx);

private:
    void repaintSlice();

    CorSweep sweep;
    std::vector<CorSweep::Slice> m_slices;
    int m_current = -1;
    int m_best = -1;
    double m_lo = 0;
    double m_hi = 1;
    QLineEdit *m_from;
    QLineEdit *m_to;
    QLineEdit *m_step;
    QPushButton *m_sweep;
    QPushButton *m_use;
    QLabel *m_text;
    SeekCtrl *m_seek;
    ImgDispWPV *m_disp;
};
