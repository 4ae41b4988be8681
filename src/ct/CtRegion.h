#pragma once

#include <QMetaType>
#include <QRectF>
#include <QString>

#include <array>

class ImgDisp;
class QLineEdit;

// A rectangle of result pixels: x to the right, z downwards, x1 and z1 exclusive.
struct CtRegion
{
    double x0 = 0;
    double z0 = 0;
    double x1 = 0;
    double z1 = 0;

    friend bool operator==(const CtRegion &, const CtRegion &) = default;

    bool isFinite() const;
    // The region a display shows when its source rectangle is s.
    static CtRegion ofSource(const QRectF &s);
    // The smallest whole-pixel region that covers this one (floor of the start, ceil of the
    // end): what "Set To C. Region" makes of the displayed part.
    CtRegion widenedToPixels() const;
    QRectF sourceRect() const { return QRectF(x0, z0, x1 - x0, z1 - z0); }
};

Q_DECLARE_METATYPE(CtRegion)

// How region numbers live in their fields: 'g' with 6 significant digits, read back as a
// double, with 0 for text that is not a finite number.
QString regionText(double v);
double regionValue(const QString &text);

// Four line edits holding x0, z0, x1, z1.
class CtRegionFields
{
public:
    CtRegionFields(QLineEdit *x0, QLineEdit *z0, QLineEdit *x1, QLineEdit *z1);

    CtRegion read() const;
    // Writes r; true when any field reads back a different number than before. Comparing
    // what the fields hold (not the arguments) makes a region relayed between views settle
    // after one round even when its numbers have more than 6 digits.
    bool write(const CtRegion &r);
    const std::array<QLineEdit *, 4> &edits() const { return f; }

private:
    std::array<QLineEdit *, 4> f;
};

// The display region (DR) and calculation region (CR) of one reconstruction view, with the
// `regionSet` rule, written once for the single-slice panel and every worker view. The view
// keeps the signals: it emits when a setter reports a change.
class CtRegions
{
public:
    // Writes the initial CR (0, 0, 2047, 2047) and leaves regionSet false.
    CtRegions(CtRegionFields dr, CtRegionFields cr);

    CtRegion dr() const { return drFields.read(); }
    CtRegion cr() const { return crFields.read(); }
    bool regionSet() const { return isSet; }
    const CtRegionFields &drEdits() const { return drFields; }
    const CtRegionFields &crEdits() const { return crFields; }

    // Both return whether anything changed; a region with a number that is not finite is
    // refused (it could never compare equal and would be relayed between views for ever).
    bool setDR(const CtRegion &r);
    // A change also sets regionSet.
    bool setCR(const CtRegion &r);
    // The CR becomes the displayed part widened to whole pixels; the region it got is
    // returned through `cr` so the view can announce it.
    bool setCRegion(CtRegion *cr);
    // At the start of a reconstruction of an n x n result: while no CR has been set, the CR
    // becomes (0, 0, n, n). True when the fields changed.
    bool setDefaultCR(int n);
    // The CR that rule gives, without writing it.
    CtRegion calcRegion(int n) const;

    // Makes `disp` show exactly r and repaint.
    static void showRegion(ImgDisp *disp, const CtRegion &r);

private:
    CtRegionFields drFields;
    CtRegionFields crFields;
    bool isSet = false;
};
