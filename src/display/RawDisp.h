#pragma once

#include "ImgDispWPV.h"

// Only named here: the display keeps a reference to the raw image it shows so that its
// owner can look values up, but never reads it itself.
class ImgData;

// The display of measured raw projections.
class RawDisp : public ImgDispWPV
{
    Q_OBJECT
public:
    explicit RawDisp(QWidget *parent = nullptr);

    // The reader behind the shown picture; owned elsewhere, none at first.
    ImgData *imgData = nullptr;
};
