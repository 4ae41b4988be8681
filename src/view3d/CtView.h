#pragma once

#include "Vec3.h"

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

class DispA;
class QCloseEvent;
class QFileDialog;
class QPainter;
class SlicesCtrl;
struct MipView;

namespace Ui {
class CtView;
}

// The 3D view: one or more slice sets seen from any direction as a maximum-intensity
// projection, with thresholds, colours, opacity, a cutting plane and box frames. The user
// rotates by dragging, pans with the right button (or Shift and the left), zooms with the
// wheel, and saves the picture as a bitmap or SVG. It owns one SlicesCtrl per set.
class QCheckBox;

class CtView : public QFrame
{
    Q_OBJECT
public:
    explicit CtView(const QString &dataDir = QString(), QWidget *parent = nullptr);
    ~CtView() override;

    // The largest picture drawn (8192 x 8192 or the same number of pixels in another
    // shape): one more digit typed into a size field must not take all the memory and keep
    // the window busy for minutes.
    static constexpr qint64 MaxPicturePixels = qint64(1) << 26;

    // Adds the panel of a further slice set (the constructor adds the first).
    SlicesCtrl *addSliceSet();
    DispA *canvas() const;
    // The view for a picture of pw x ph pixels. `scale` is the volume units per pixel of a
    // picture whose smaller side is 256 pixels; a larger picture shows the same part of the
    // volume at a finer step, so the picture size sets the resolution, not the zoom.
    MipView mipView(int pw, int ph) const;
    double unitsPerPixel(int pw, int ph) const;

    Vec3 nx { 1, 0, 0 };
    Vec3 ny { 0, 1, 0 };
    Vec3 nz { 0, 0, 1 };
    Vec3 off;
    double scale = 1;
    // Picture size at which `scale` is the volume units per pixel.
    static constexpr int ReferencePictureSize = 256;
    int dragMode = 2;
    int rotEdge = 0;
    double lastX = 0;
    double lastY = 0;
    QImage pImg;
    QString dataDir;
    QStringList formats;
    bool nativeDialog = false;
    QList<SlicesCtrl *> ctrls;
    // "Shading": each set's picture is shaded as a relief (MipRenderer::shade).
    QCheckBox *shading = nullptr;

signals:
    void newFiles(QStringList files);
    void initNz(Vec3 nz);
    void newNz(Vec3 nzv);
    void finishing();
    // A slice set has something to tell the user at once.
    void notice(const QString &text);

public slots:
    void updateNvs(Vec3 rax, double th);
    void changedSliderStat();
    void paintPImg();
    void paintPImg0(QPainter &p, int pw, int ph);
    void paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph);
    void paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color);
    void draw(QPainter *p);
    void mousePressedOnDataDisp();
    void mouseMovedOnDataDisp();
    void mouseReleasedOnDataDisp();
    void wheelMovedOnDataDisp(int step);
    void showSaveImageD();
    void saveImage(QString fname);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    // Settings changes arrive in bursts (a threshold edit changes both of its fields); they
    // are gathered into one repaint at the next pass of the event loop.
    void scheduleRepaint();
    // The pointer on the canvas, 0 ... 1 across, y upward.
    void normalisedPointer(double &x, double &y);
    // The size in the picture-size fields; false (and reported) when it is too large to draw.
    bool pictureSize(int &w, int &h) const;
    bool anySetLoaded() const;

    std::unique_ptr<Ui::CtView> ui;
    QPointer<QFileDialog> saveDialog;
    // Per slice set (by its panel): the grey levels of its values for the threshold window
    // they were made for, remade when the set or the window changes (see MipVolume).
    struct GreyLevels
    {
        std::weak_ptr<const void> set;
        double thLow = 0;
        double thHigh = 0;
        std::vector<unsigned char> levels;
    };
    std::map<const SlicesCtrl *, GreyLevels> greyLevels;
    // Picture size of the pass in progress, for the frame, whose slot does not carry it.
    int passW = 0;
    int passH = 0;
    bool linking = false;
    bool repaintPending = false;
};
