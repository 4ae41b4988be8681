#include "RunParams.h"

#include "CorSearch.h"
#include "CtParams.h"
#include "ImgDatasLines.h"
#include "SinogramBuild.h"

#include <QString>

double RunParams::asField(double v)
{
    bool ok = false;
    const double read = QString::number(v, 'g', 6).toDouble(&ok);
    return ok ? read : 0.0;
}

void RunParams::fill(CtParams &p) const
{
    p.method = method;
    p.calcCt1 = false;
    p.calcCt2 = true;
    p.rotAxIsV = rotAxIsV;
    p.slice = slice;
    p.cor = cor;
    p.recCor1 = p.recCor2 = 0.0;
    p.recSlice1 = p.recSlice2 = -1;
    p.angleOriginDeg = origin;
    p.dataSetImages = images;
    p.dataSetRangeDeg = range;
    // The whole set: no partial data set.
    p.usePartialDataSet = false;
    p.usingImages = images;
    p.startImageNo = 0;
    p.sliceRange = true;
    p.sliceFrom = sliceFrom;
    p.sliceTo = sliceTo;
    p.sliceStep = sliceStep;
    p.threads = threads;
    p.upperLimit = 10.0;
    p.lowerLimit = -10.0;
    p.dataOffset = 10.0;
    p.filter = filter;
    p.ringRemoval = ringRemoval;
}

bool RunParams::guessCor(const ImgDatas &set, double fraction)
{
    const ImgDatasLines lines(set, rotAxIsV);
    const ProjectionSelection sel = selectProjections(lines.imageCount(), false, 0, 0);
    double found = 0.0;
    if (!guessCorOnLines(lines, slice, sel.first, range, cor, fraction, &found))
        return false;
    cor = found;
    return true;
}
