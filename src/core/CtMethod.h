#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <vector>

class CtEngine;

// How a slice is reconstructed.
// - Fbp: the filtered back-projection, exact and in double precision; the default.
// - Gridding: direct Fourier inversion with gridding (CtGridding), the same values within a
//   fraction of a per cent of the slice's range, many times faster on large slices.
enum class CtMethod { Fbp, Gridding };

// One row of the method table: what every caller needs to know of a method.
struct CtMethodInfo
{
    CtMethod method;
    // Batch, setup-file, tool-option and Python name: "fbp".
    QString name;
    // Label of the results' files: "filtered back-projection".
    QString label;
    // The method in the run's start line on the log: "gridding".
    QString runText;
    // Whether the engine adds the projections one at a time (CtBackProj's fftRow, filterRow,
    // backProject), so that the single-slice panel can show the slice grow.
    bool byRow;
    // Bytes one engine holds for slices of width n made of `rows` projections.
    qint64 (*engineBytes)(int n, int rows);
    // A new engine of this method.
    std::unique_ptr<CtEngine> (*make)();
};

namespace CtMethods {
// Every method, in the order of CtMethod.
const std::vector<CtMethodInfo> &table();
const CtMethodInfo &info(CtMethod method);
// Batch and setup-file names in the order of CtMethod: "fbp", "gridding".
QStringList names();
QString name(CtMethod method);
// The names for a message that asks for one of them: "fbp or gridding".
QString choiceText();
// Case-insensitive; false (and `method` untouched) for a name that is not a method.
bool fromName(const QString &name, CtMethod *method);
} // namespace CtMethods
