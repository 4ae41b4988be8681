#pragma once

#include "DxchangeFile.h"
#include "ImgData.h"

#include <vector>

// One image of a DXchange HDF5 file (see DxchangeFile for the layout and the "FILE#i",
// "FILE#white", "FILE#dark" names): a projection as stored, or the average of the white or
// dark images. Like the camera-file readers it holds its pixels in memory once loaded, so
// rows and columns are served without touching the file.
class ImgDataHdf5 : public ImgData
{
public:
    DxchangeFile::Pixel pixel = DxchangeFile::Pixel::UInt16;
    std::vector<char> pixels;

    void reset() override;
    bool readProps(const QString &f, int &w, int &h) override;
    bool openData(const QString &f) override;
    // Projections are read in part; the white and dark averages whole.
    bool keepsWindow() const override { return part == DxchangeFile::Part::Projection; }
    double *hLine(int y, double *out) const override;
    double *vLine(int x, double *out) const override;

private:
    // Shared with the other images of the file while this reader lives.
    DxchangeFile::SourcePtr source;
    DxchangeFile::Part part = DxchangeFile::Part::Projection;
    int index = 0;
};
