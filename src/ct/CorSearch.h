#pragma once

class DetectorLines;

// Centre-of-rotation search over two detector lines f and g taken half a turn apart:
// g mirrored about the true centre matches f, and the product score peaks there.

// Image paired with `first`: the one int(180 / rangeDeg * count) images later, wrapped
// into the set. Returns -1 for an empty set or a range that is not a positive number.
int corPartnerImage(int first, int count, double rangeDeg);

// Normalised correlation sum(A B) / sqrt(sum(A A) sum(B B)) of A = f(c + x) and
// B = g(c - x) over i = 0 ... 2L - 1 (x = i - L, |x| < fraction * L), both lines sampled
// by interpolation with 0 outside. 0 when L <= 0 or either part holds no signal.
double corScore(const double *f, const double *g, int length, double c, double fraction);

// Coarse scan of every whole pixel from L/4 to 3L/4 and of `start`, then a hill climb from
// the best of them: passes of 20 whole-pixel candidates around the best so far until a pass
// brings no strictly better score, then tenth-pixel steps within +-2. Returns the best
// position (`start` when nothing scores above 0).
double searchCor(const double *f, const double *g, int length, double start, double fraction);

// Attenuation ln((I0 - BG) / (I - BG)) of a raw line, a non-positive difference counting as
// 1. Without an I0 line the line's own largest intensity stands in for I0, without a BG line
// the background is 0; either way the open beam beside the object scores about 0.
void attenuationLine(
    const double *line, const double *i0, const double *bg, int length, double *out);

// The whole guess on an image set: attenuation lines of image `first` and its partner
// (corPartnerImage) at `slice`, searched from `start`. False, leaving `found` alone, when the
// set has no partner image, no samples, or no such slice.
bool guessCorOnLines(const DetectorLines &lines, int slice, int first, double rangeDeg,
    double start, double fraction, double *found);
