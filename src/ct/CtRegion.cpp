#include "CtRegion.h"

#include "ImgDisp.h"

#include <QLineEdit>

#include <cmath>

bool CtRegion::isFinite() const
{
    return std::isfinite(x0) && std::isfinite(z0) && std::isfinite(x1) && std::isfinite(z1);
}

CtRegion CtRegion::ofSource(const QRectF &s)
{
    return CtRegion { s.x(), s.y(), s.x() + s.width(), s.y() + s.height() };
}

CtRegion CtRegion::widenedToPixels() const
{
    return CtRegion { std::floor(x0), std::floor(z0), std::ceil(x1), std::ceil(z1) };
}

QString regionText(double v)
{
    return QString::number(v, 'g', 6);
}

double regionValue(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    // "nan" and "inf" parse, but a region edge must be a number to be compared and used.
    return ok && std::isfinite(v) ? v : 0.0;
}

CtRegionFields::CtRegionFields(QLineEdit *x0, QLineEdit *z0, QLineEdit *x1, QLineEdit *z1)
    : f { x0, z0, x1, z1 }
{ }

CtRegion CtRegionFields::read() const
{
    return CtRegion { regionValue(f[0]->text()), regionValue(f[1]->text()),
        regionValue(f[2]->text()), regionValue(f[3]->text()) };
}

bool CtRegionFields::write(const CtRegion &r)
{
    const CtRegion before = read();
    const double v[4] = { r.x0, r.z0, r.x1, r.z1 };
    for (int i = 0; i < 4; ++i)
        f[i]->setText(regionText(v[i]));
    return read() != before;
}

CtRegions::CtRegions(CtRegionFields dr, CtRegionFields cr)
    : drFields(dr)
    , crFields(cr)
{
    crFields.write(CtRegion { 0, 0, 2047, 2047 });
    isSet = false;
}

bool CtRegions::setDR(const CtRegion &r)
{
    return r.isFinite() && drFields.write(r);
}

bool CtRegions::setCR(const CtRegion &r)
{
    if (!r.isFinite() || !crFields.write(r))
        return false;
    isSet = true;
    return true;
}

bool CtRegions::setCRegion(CtRegion *cr)
{
    const CtRegion r = dr().widenedToPixels();
    if (cr)
        *cr = r;
    return setCR(r);
}

bool CtRegions::setDefaultCR(int n)
{
    return !isSet && setCR(CtRegion { 0, 0, double(n), double(n) });
}

CtRegion CtRegions::calcRegion(int n) const
{
    return isSet ? cr() : CtRegion { 0, 0, double(n), double(n) };
}

void CtRegions::showRegion(ImgDisp *disp, const CtRegion &r)
{
    disp->s = r.sourceRect();
    disp->scaleSet = true;
    disp->newImage();
}
