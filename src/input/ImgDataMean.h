#pragma once

#include "ImgData.h"

#include <QStringList>

#include <vector>

// The average of several images of one size (flats or darks taken several times), as one
// image: the name is their names joined by '|', or a folder whose images are all taken.
// Pixels are summed in double, so the average of integer counts is exact to rounding.
class ImgDataMean : public ImgData
{
public:
    QStringList sources; // the images averaged, as last loaded
    std::vector<double> pixels;

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;
};
