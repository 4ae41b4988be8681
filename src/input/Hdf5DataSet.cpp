#include "Hdf5DataSet.h"

#include "Hdf5Probe.h"
#include "NxtomoFile.h"
#include "ThetaUnits.h"

#include <QFileInfo>

bool Hdf5DataSet::open(
    const QString &path, const QString &entry, const QString &thetaUnits, QString *error)
{
    file = path;
    info = DxchangeFile::Info();
    base.clear();
    layout.clear();
    if (!QFileInfo(path).isFile() || !DxchangeFile::isHdf5(path)) {
        // The DXchange reader says why, naming the file.
        DxchangeFile::inspect(path, info, error);
        return false;
    }
    if (NxtomoFile::isNxtomo(path)) {
        layout = QStringLiteral("NXtomo");
        NxtomoFile::Entry e;
        if (!NxtomoFile::inspect(path, entry, e, error))
            return false;
        const QString missing = Hdf5Probe::missingFilter(path, e.data);
        if (!missing.isEmpty()) {
            *error = missing;
            return false;
        }
        return NxtomoFile::describe(path, e.name, thetaUnits, info, base, error);
    }
    layout = QStringLiteral("DXchange");
    if (!entry.isEmpty()) {
        *error = QStringLiteral("Cannot load the HDF5 file %1: --entry applies to NXtomo files, "
                                "this one holds no NXtomo entry")
                     .arg(path);
        return false;
    }
    const QString missing = Hdf5Probe::missingFilter(path, QStringLiteral("/exchange/data"));
    if (!missing.isEmpty()) {
        *error = missing;
        return false;
    }
    if (!DxchangeFile::inspect(path, info, error))
        return false;
    const QString where = QStringLiteral("/exchange/theta");
    if (!ThetaUnits::toDegrees(info.theta, Hdf5Probe::units(path, where), thetaUnits,
            QStringLiteral("%1 (dataset %2)").arg(path, where), error))
        return false;
    base = path;
    return true;
}

QStringList Hdf5DataSet::projections() const
{
    return DxchangeFile::projectionAddresses(base, info.projections);
}

QString Hdf5DataSet::flat() const
{
    return info.whites > 0 ? DxchangeFile::address(base, DxchangeFile::Part::White) : QString();
}

QString Hdf5DataSet::dark() const
{
    return info.darks > 0 ? DxchangeFile::address(base, DxchangeFile::Part::Dark) : QString();
}
