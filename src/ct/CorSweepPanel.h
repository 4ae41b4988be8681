#pragma once

#include "CorSweep.h"
#include "CorSweepJob.h"

#include <QFrame>

#include <vector>

class CorSweepGrid;
class ImgDispWPV;
class QCheckBox;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QLineEdit;
class QPushButton;
class SeekCtrl;

// The centre-of-rotation sweep: the current slice reconstructed at From, From + Step, ... To on
// threads of their own (the window stays free; "Sweep" turns into "Stop" meanwhile), then shown
// on one grey scale (the best slice's 0.5 % and 99.5 % points unless the colour bar is fixed)
// side by side as labelled thumbnails or one at a time, flipped through with the seek control;
// the best (least total variation) is named. A click on a thumbnail selects it, "Use this CoR"
// hands the selected slice's centre to the owner. The owner supplies the sinogram and the
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

    // Starts reconstructing at every centre of `cors` on up to `threads` threads;
    // sweepFinished follows (a slice that cannot be made is left out and named on the log),
    // and the best is shown. False when a sweep runs already or no thread can be had.
    bool start(const CorSweep::SinogramFn &sinogram, const CtParams &p,
        const std::vector<double> &cors, int threads);
    bool sweeping() const { return job.running(); }
    // The sweep takes no further centre; sweepFinished follows.
    void cancel();
    // Ends a sweep at once, waiting for its threads, without sweepFinished: the data its
    // sinogram reads is about to go.
    void stopAndWait();
    bool wasCancelled() const { return job.wasCancelled(); }
    // Centres of the last sweep no slice was made at.
    const std::vector<double> &failedCors() const { return job.failedCors(); }

    const std::vector<CorSweep::Slice> &slices() const { return m_slices; }
    int current() const { return m_current; }
    int bestIndex() const { return m_best; }
    ImgDispWPV *display() const { return m_disp; }
    CorSweepGrid *grid() const { return m_grid; }
    QCheckBox *sideBySideBox() const { return m_sideBySide; }
    QProgressBar *progressBar() const { return m_progress; }
    SeekCtrl *seeker() const { return m_seek; }
    QPushButton *sweepButton() const { return m_sweep; }
    QPushButton *useButton() const { return m_use; }
    QString text() const;

signals:
    // "Sweep" was pressed with the range in the fields.
    void sweepRequested(double from, double to, double step);
    // "Use this CoR": the shown slice's centre.
    void corChosen(double cor);
    // The sweep started last has ended (made: the slices made).
    void sweepFinished(int made);

public slots:
    void showSlice(int idx);

private:
    void repaintSlice();
    void repaintGrid();
    void jobFinished();
    void showSweeping(bool on);

    CorSweepJob job;
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
    CorSweepGrid *m_grid;
    QCheckBox *m_sideBySide;
    QProgressBar *m_progress;
    QStackedWidget *m_views;
};
