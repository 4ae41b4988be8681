#pragma once

// Camera files of a head phantom for the reconstruction tests: its exact (noise-free)
// projections, an I0 and a BG image written as ITEX files into a temporary folder and read
// back into an image set, as the program reads a measurement.

#include "DetectorGeometry.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "Phantom.h"
#include "Projector.h"

#include <QDebug>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace CtTestData {

// A reader that has loaded `path`, or none.
inline std::unique_ptr<ImgData> loadReader(const QString &path)
{
    std::unique_ptr<ImgData> r(ImgData::create(ImgData::fileType(path)));
    if (r) {
        r->fileName = path;
        if (!r->load())
            r.reset();
    }
    return r;
}

struct PhantomSetup
{
    int width = 128; // pixels per detector line
    int height = 8; // detector lines (slices)
    double axisOffset = 0.0; // of the rotation axis from the middle of a line
    int projections = 36;
    double rangeDeg = 180.0;
    // Detector width the head is sized for; 0: the whole detector. A head narrower than the
    // field of view leaves open beam on both sides.
    int objectWidth = 0;
    bool noise = false; // Poisson noise on every image
};

struct PhantomImages
{
    QTemporaryDir dir;
    DetectorGeometry detector;
    Phantom phantom;
    ImgDatas set;
    std::unique_ptr<ImgData> i0, bg;
    // Where the set looks for its I0 and BG readers: setting one to null takes it away.
    ImgData *i0p = nullptr;
    ImgData *bgp = nullptr;

    // Writes the files "p-00000.img"..., "i0.img" and "bg.img" and loads them; false (with a
    // warning saying why) when anything fails.
    bool make(const PhantomSetup &setup)
    {
        if (!dir.isValid())
            return false;
        detector.width = setup.width;
        detector.height = setup.height;
        detector.axisOffset = setup.axisOffset;
        DetectorGeometry sized = detector;
        if (setup.objectWidth > 0)
            sized.width = setup.objectWidth;
        phantom = Phantom::head(sized);
        Projector p;
        p.detector = detector;
        p.projections = setup.projections;
        p.rangeDeg = setup.rangeDeg;
        p.noise = setup.noise;
        p.threads = 2;
        QStringList written;
        QString error;
        if (!p.writeProjections(phantom, 0.0, dir.path(), "p", 0, &written, &error)
            || !p.writeFlat(dir.filePath("i0.img"), Projector::I0Image, 0, 0.0, &error)
            || !p.writeFlat(dir.filePath("bg.img"), Projector::BGImage, 0, 0.0, &error)) {
            qWarning() << error;
            return false;
        }
        for (const QString &f : written)
            if (!set.add(f))
                return false;
        i0 = loadReader(dir.filePath("i0.img"));
        bg = loadReader(dir.filePath("bg.img"));
        if (!i0 || !bg)
            return false;
        i0p = i0.get();
        bgp = bg.get();
        set.i0 = &i0p;
        set.bg = &bgp;
        return true;
    }
};

} // namespace CtTestData
