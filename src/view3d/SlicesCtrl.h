#pragma once

#include "Vec3.h"

#include <QColor>
#include <QFrame>
#include <QPointer>
#include <QString>

#include <memory>

class QColorDialog;
class QFileDialog;
class QPainter;
class QThread;
class SliceDatas;

namespace Ui {
class SlicesCtrl;
}

// The panel of one slice set in the 3D view: file selection, the loaded names and the
// histogram, and the set's display settings (range, thresholds in values and per cent,
// colours, opacity, what is drawn, the cutting plane). It owns the set and the thread the
// set loads on.
class SlicesCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit SlicesCtrl(const QString &dataDir = QString(), QWidget *parent = nullptr);
    ~SlicesCtrl() override;

    SliceDatas *sliceDatas() const { return datas; }

    void setVColor(QColor c);
    void setSColor(QColor c);
    void setSetNo(int n);
    void setAlpha(int a);

    void setMinThPC(double x, bool quiet);
    void setMinTh(double x, bool quiet);
    void setMaxThPC(double x, bool quiet);
    void setMaxTh(double x, bool quiet);

    // The numbers in the fields, 0 where a field holds no number.
    double rMin() const;
    double rMax() const;
    double minTh() const;
    double maxTh() const;
    double minPC() const;
    double maxPC() const;
    // The opacity in "alpha_", kept within 0 ... 255 even while it is being typed.
    int alpha() const;
    bool showFrame() const;
    bool showVolume() const;
    bool showCSection() const;
    bool csFixDir() const;
    int cSliderValue() const;
    // Set by the view when the cutting planes of all sets are linked.
    void setCSliderValue(int v);
    void setCsFixDir(bool f);

    QString dataDir;
    bool nativeDialog = false;
    QColor vColor { 0, 127, 127 };
    QColor sColor { 127, 0, 0 };
    Vec3 csNormal;
    int grabbed = -1;

signals:
    void changedSliderStat();
    void paintPImg();
    void bClicked();
    // Something the user should see at once (files of a folder refused).
    void notice(const QString &text);

public slots:
    void fixupAlpha();
    void updatedMinThPC();
    void updatedMaxThPC();
    void updatedMinTh();
    void updatedMaxTh();
    void showHide(bool f);
    void selectFiles();
    void selectVColor();
    void selectSColor();
    void noticedLoadedNewFile(QString fname);
    void noticedLoadFilesFinished();
    void datasCleared();
    void drawHist(QPainter *p);
    void mousePressedOnDispH();
    void mouseMovedOnDispH();
    void mouseReleasedOnDispH();
    void initNz(Vec3 nz);
    void newNz(Vec3 nz);

private:
    // Per cent of the range for a value; false while the range is empty.
    bool percentOf(double value, double &pc) const;
    double valueOfPercent(double pc) const { return rMin() + (rMax() - rMin()) * pc / 100.0; }
    void mapHistogram();
    double pointerPercent();

    std::unique_ptr<Ui::SlicesCtrl> ui;
    SliceDatas *datas;
    QThread *loader;
    QPointer<QFileDialog> fileDialog;
    QPointer<QColorDialog> vColorDialog;
    QPointer<QColorDialog> sColorDialog;
};
