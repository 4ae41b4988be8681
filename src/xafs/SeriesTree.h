#pragma once

#include <QList>
#include <QString>

#include <vector>

// The result tree of a CT-XAFS series run: one folder per energy below the output folder,
// each holding the same reconstructed slices, as float TIFF files ("*-NNNNN.tif") or CT image
// data files ("*-NNNNN.dat"). The energies are ordered by the number in the folder names.
class SeriesTree
{
public:
    enum class Format { Tiff, CtData };

    struct Energy
    {
        QString tag; // the folder's name
        QString folder; // absolute path
        double energyEv = 0;
        double cor = 0.0 / 0.0; // as the slices' description gives it (TIFF only)
        std::vector<QString> files; // one per slice, in the order of `slices`
    };

    QString root;
    Format format = Format::Tiff;
    QList<Energy> energies;
    QList<int> slices; // slice numbers, ascending
    int rows = 0;
    int cols = 0;
    // Subtracted from the values of CT image data files (the run's data offset).
    double dataOffset = 10.0;
    QString method; // from the TIFF descriptions; empty when unknown
    QString filter;

    // Reads the tree below `root`: every sub-folder whose name holds a number and that holds
    // slice files. TIFF files are taken where the first energy has them, data files otherwise.
    // Every energy must have every slice any energy has. False with `error` set (naming the
    // folder or file concerned) otherwise. `dataOffset` applies to data files.
    bool scan(const QString &root, double dataOffset, QString *error);

    // Slice `s` (index into `slices`) of energy `k`, rows x cols floats into `out`. False, with
    // `error` naming the file, for a file that is missing, damaged, cut short or of another
    // size than the first slice.
    bool readSlice(int k, int s, float *out, QString *error) const;

    QString formatText() const { return format == Format::Tiff ? "float TIFF" : "CT image data"; }
};
