#pragma once

#include "GreyLevels.h"

#include <QImage>

// The colour bar's grey levels (see GreyLevels) drawn into pictures.
struct GreyLevelMap : GreyLevels
{
    // A Format_Grayscale8 picture of width x height values stored row after row.
    QImage greyImage(const double *data, int width, int height) const;
};
