#pragma once

#include "CtFilter.h"
#include "CtMethod.h"
#include "SinogramBuild.h"

#include <QFrame>
#include <QMutex>

#include <memory>

struct CtParams;
class QAbstractButton;
class QButtonGroup;
namespace Ui {
class ProcCtrl;
}

// The process control panel: slice, centre of rotation, rotation axis, angular geometry,
// partial data set, slice range, two recorded CoRs and the number of workers. The slice,
// CoR and axis are kept as members and signalled on change (only on a real change, so the
// sinogram panel and this panel never echo each other); everything else is read from the
// fields when needed.
class ProcCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit ProcCtrl(QWidget *parent = nullptr);
    ~ProcCtrl() override;

    bool rotAxIsV() const { return m_rotAxIsV; }
    int slice() const { return m_slice; }
    double cor() const { return m_cor; }
    double recCor1() const { return m_recCor1; }
    double recCor2() const { return m_recCor2; }
    int recSlice1() const { return m_recSlice1; }
    int recSlice2() const { return m_recSlice2; }

    double angleOriginDeg() const;
    int dataSetImages() const;
    double dataSetRangeDeg() const;
    bool usePartialDataSet() const;
    int dataSetUsingImages() const;
    int dataSetStartImageNo() const;
    bool autoExecCtCalc() const;
    int sliceFrom() const;
    int sliceTo() const;
    int sliceStep() const;
    int threads() const;
    // Filter of the reconstruction.
    CtFilterKind filter() const;
    // False, and nothing changes, for a name that is not a filter.
    bool setFilter(const QString &name);
    // The reconstruction method chosen in `Method`.
    CtMethod method() const;
    // The ring removal level of `RingRemoval` (0 = off); the setter keeps it within 0 ... 20.
    int ringRemoval() const;
    void setRingRemoval(int level);

    // The CoR at slice s on the straight line through the two records (extrapolated beyond
    // them); the current CoR while fewer than two distinct records exist.
    double corAtSlice(int s) const;

    // Copies the panel into the parameter block at a run start; nextSlice is left alone.
    void fillCtParams(CtParams &p, bool calcCt1, bool calcCt2) const;

    // Safe to call from any thread (the sinogram builder runs on worker threads).
    PartialDataSet partialDataSet() const;

    // Threads' maximum = h, label "/h", value 80 % of h (truncated).
    void setHardwareThreads(int h);

    // A recorded (slice, CoR) pair as the "Record" button leaves it; a negative slice empties
    // the record. Batch commands and setup files restore the records through these.
    void setRecord1(int s, double c);
    void setRecord2(int s, double c);

    // The number of slices (detector lines along the axis) of the loaded set: slice numbers
    // typed outside 0 ... lines - 1 are refused. 0 lifts the limit (no set loaded).
    void setSliceLines(int lines);
    int sliceLines() const { return m_sliceLines; }

signals:
    void usePartialDataSetUpdated();
    void autoUpdateUpdated();
    void autoExecUpdated();
    void rotAxUpdated();
    void sliceNoUpdated();
    void corUpdated();
    void angleOriginUpdated();
    void dataSetRangeUpdated();
    void dataSetUsingImagesUpdated();
    void dataSetStartImageNoUpdated();
    void askGenImage();
    // Something the user typed was not taken; the message says what and why.
    void refusedInput(const QString &message);

private slots:
    void showPartial();
    void recordCoR();
    void sliceNoEditingFinished();
    void corEditingFinished();
    void rotAxSelectionChanged(QAbstractButton *button);
    void clearRecordedCoR();

public slots:
    void setCor(double cor);
    void setSliceNo(int sliceNo);
    void setSliceFrom(int from);
    void setSliceTo(int to);
    void setSliceStep(int step);
    void setAngleOriginDeg(double deg);
    void setDataSetImages(int no);
    void setDataSetRangeDeg(double deg);
    void setUsePartialDataSet(bool f);
    void setDataSetUsingImages(int images);
    void setDataSetStartImageNo(int no);
    void setMethod(CtMethod method);

private:
    void refreshPartialCopy();

    std::unique_ptr<Ui::ProcCtrl> ui;
    QButtonGroup *rotAxGroup = nullptr;

    bool m_rotAxIsV = false;
    int m_slice = 0;
    double m_cor = 0.0;
    double m_recCor1 = 0.0;
    double m_recCor2 = 0.0;
    int m_recSlice1 = -1;
    int m_recSlice2 = -1;
    int m_sliceLines = 0;

    // Copy of the partial-data-set fields, refreshed on the GUI thread whenever the box or
    // either field changes and read under the mutex by worker threads, which must never
    // touch the widgets themselves.
    mutable QMutex partialMutex;
    PartialDataSet partial;
};
