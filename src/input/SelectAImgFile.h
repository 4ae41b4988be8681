#pragma once

#include "SelectAFile.h"

#include <QPointer>

#include <memory>
#include <vector>

class ImgData;
class ImgDispWPV;
namespace Ui {
class SelectAImgFile;
}

// A single image file (the I0 or the background image): the chosen file is loaded at once
// and shown in an image view with a pointer read-out. The selector owns the reader; the
// image set reads it through `imgSlot()`, so it always sees the current one.
class SelectAImgFile : public SelectAFile
{
    Q_OBJECT
public:
    explicit SelectAImgFile(QWidget *parent = nullptr);
    ~SelectAImgFile() override;

    ImgData *img = nullptr;
    double defaultExpTime = 0;

    // The image set and the reconstruction workers read the reader through this address
    // from other threads; that is safe because a reader is never changed after loading and
    // the main window does not choose a new image while a run reads it.
    ImgData **imgSlot() { return &img; }
    // The view is made without a parent so that the owner can place it where it likes (the
    // main window puts it into a tab); it is deleted with the selector unless its new
    // parent has already deleted it.
    ImgDispWPV *view() const;
    double expTime() const; // the number in the exposure-time field, 0 when not a number
    bool showImg() const;
    void setShowImg(bool f);

public slots:
    void noticedNewPos(double x, double y);
    // Answers the selector's own clear() signal (the "Clear" button, clear0()): drops the
    // image and restores the default exposure time. Call clear0() to clear the whole
    // selector.
    void clear();
    void setExpTime(double time);

private slots:
    void loadImage(const QString &fname);
    void render();
    void showImgToggled(bool f);

private:
    std::unique_ptr<Ui::SelectAImgFile> imgUi;
    QPointer<ImgDispWPV> imgView;
    std::vector<double> row; // the read-out's own row buffer, never shared with a reader
};
