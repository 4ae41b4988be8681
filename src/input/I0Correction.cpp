#include "I0Correction.h"

#include "TextUtil.h"

#include <QFileInfo>

#include <cmath>

double I0Correction::i0For(const QString &imageFileName) const
{
    if (fromXafs && table.count() > 0) {
        bool ok = false;
        double e = XafsI0Table::energyFromName(imageFileName, pattern, &ok);
        // Sets kept one per sub folder carry the energy in the folder's name only.
        if (!ok)
            e = XafsI0Table::energyFromName(QFileInfo(imageFileName).path(), pattern, &ok);
        if (ok)
            return table.i0At(e);
        logLine(QString("No energy matching \"%1\" in the image file name, I0 taken as %2 :")
                    .arg(pattern)
                    .arg(value),
            imageFileName);
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
