#pragma once

#include "ImgData.h"

#include <vector>

// One image of an NXtomo entry (see NxtomoFile for the layout and the names): a projection,
// or the average of the flats or darks, held in memory in single precision where that is
// exact (frames of 16-bit counts or float32) and in double otherwise.
class ImgDataNxtomo : public ImgData
{
public:
    std::vector<float> single;
    std::vector<double> full;

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;
};
