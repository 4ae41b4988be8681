#pragma once

#include "DetectorLines.h"

class ImgData;
class ImgDatas;

// Detector lines of an image set: image rows when the rotation axis is vertical, image
// columns when it is horizontal. Reads the readers without changing them, so several
// threads may use their own instances (or one) on the same set at once.
class ImgDatasLines : public DetectorLines
{
public:
    ImgDatasLines(const ImgDatas &set, bool rotAxIsV);

    int lineLength() const override;
    int lineCount() const override;
    int imageCount() const override;
    void readProjection(int image, int slice, double *out) const override;
    bool readI0(int slice, double *out) const override;
    bool readBg(int slice, double *out) const override;

private:
    // True when `reader` is ready and has the set's size, so that its lines fit.
    bool usable(const ImgData *reader) const;
    void readLine(const ImgData *reader, int slice, double *out) const;

    const ImgDatas &set_;
    bool rotAxIsV_;
};
