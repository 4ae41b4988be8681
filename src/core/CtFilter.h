#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The filters a slice can be reconstructed with.
// - Ramp: 2 pi |m| / N on the unpadded transform of length N, the program's original filter.
//   Its periodic convolution reads large objects low and gives the air around them a
//   negative offset.
// - RampPadded: the band-limited ramp built from the spatial Ram-Lak kernel
//   h(0) = 1/4, h(odd k) = -1 / (pi k)^2, h(even k != 0) = 0, applied on a transform padded
//   with zeros to at least twice the row, so that the convolution is linear and exact over
//   the row: uniform bodies read their value whatever part of the field they fill.
// - SheppLogan, Cosine, Hamming, Hann: RampPadded times the usual apodisation windows
//   (sinc(w / 2), cos(w / 2), 0.54 + 0.46 cos w, (1 + cos w) / 2 with w = 2 pi m / M, pi at
//   the Nyquist frequency): less noise, less resolution, the same values on broad areas.
enum class CtFilterKind { Ramp, RampPadded, SheppLogan, Cosine, Hamming, Hann };

class CtFilter
{
public:
    // Batch and setup-file names in the order of CtFilterKind: "ramp", "ramp_padded", ...
    static QStringList names();
    static QString name(CtFilterKind kind);
    // Case-insensitive; false (and `kind` untouched) for a name that is not a filter.
    static bool fromName(const QString &name, CtFilterKind *kind);

    // Whether the filter works on a zero-padded transform (every filter but Ramp).
    static bool padded(CtFilterKind kind) { return kind != CtFilterKind::Ramp; }
    // The padded transform length for rows of n samples: the smallest even number >= 2n
    // whose only prime factors are 2, 3, 5 and 7, which FFTW transforms fast. 0 for n < 1.
    static int paddedLength(int n);

    // Real frequency response of length `length` / 2 + 1 for a real-to-complex transform of
    // `length` samples (even, >= 2), scaled like Ramp: an unnormalised inverse divided by
    // `length` x P gives twice the attenuation per pixel over P projections of 180 or 360
    // degrees. For Ramp it is exactly 2 pi m / length. Empty for a bad length. Takes the
    // FFTW planner lock; call it outside hot loops (it costs one transform of `length`).
    static std::vector<double> response(CtFilterKind kind, int length);
};
