#pragma once

#include "SpectrumEdge.h"

#include <QString>
#include <QStringList>

#include <vector>

class LinearCombination;

// The curves shown for one spectrum: mu(E), its pre-edge line and post-edge curve, the
// normalised spectrum and, with references, the fit and each weighted reference. Plain data
// for a plot or a CSV file; no widgets.
struct SpectrumCurves
{
    QString label; // what the spectrum is: "voxel 3 12 40", "region mean ..."
    std::vector<double> energies;
    std::vector<double> mu, pre, post, normalised;
    std::vector<double> fit; // empty without references
    std::vector<std::vector<double>> components; // weight x reference, one per reference
    QStringList componentNames;
    std::vector<double> weights;
    SpectrumEdge::Result edge;
    double rFactor = 0;

    // Analyses `mu` with `analyser` (and `lcf` when not null) into the curves.
    static SpectrumCurves make(const QString &label, const std::vector<double> &mu,
        const SpectrumEdge &analyser, const LinearCombination *lcf, const QStringList &refNames);

    // CSV of several spectra side by side: one line per energy; columns energy, then for each
    // spectrum its mu, pre, post, normalised (and fit and components when present), each
    // header naming the spectrum. Values outside a fit range are empty.
    static QString csv(const std::vector<SpectrumCurves> &curves);
};
