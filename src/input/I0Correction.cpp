#include "I0Correction.h"

#include "Failures.h"
#include "TextUtil.h"

#include <QFileInfo>

#include <cmath>

double I0Correction::i0For(const QString &imageFileName) const
{
    // Without a scan file (the default) the fixed value applies; a scan file named but
    // without points is counted when it is chosen.
    if (fromXafs && table.count() > 0 && !imageFileName.isEmpty()) {
        bool ok = false;
        double e = XafsI0Table::energyFromName(imageFileName, pattern, &ok);
        // Sets kept one per sub folder carry the energy in the folder's name only.
        if (!ok)
            e = XafsI0Table::energyFromName(QFileInfo(imageFileName).path(), pattern, &ok);
        if (ok)
            return table.i0At(e);
        // A pattern that finds nothing would silently leave the correction out.
        recordFailure(Failures::Load,
            QString("No energy matching \"%1\" in the image file name %2, I0 taken as %3 (a "
                    "pattern such as ####_#### reads 8980_0000)")
                .arg(pattern, imageFileName)
                .arg(value));
    }
    return value;
}

double I0Correction::scale(double i0Raw, double i0Ref)
{
    const double s = i0Raw / i0Ref;
    if (std::isfinite(s) && s > 0.0)
        return s;
    logLine(QString("I0 of the raw images %1 and of the I0 image %2 give no usable ratio: "
                    "the I0 image is used as measured")
                .arg(i0Raw)
                .arg(i0Ref));
    return 1.0;
}
