#pragma once

#include <QStringList>

// `vexa2-spectra maps STACK.h5 -o MAPS.h5 [options]`: the maps of a spectral stack.
// `args` are the words after "maps". Exit status 0, 1 for a failure, 2 for a usage error.
int runMapsCommand(const QStringList &args);

// The usage text of the maps command.
QString mapsUsage();
