#pragma once

#include <functional>
#include <vector>

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

// The same search on several pairs at once: the score at c is the normalised correlation of
// all pairs together (their products and energies summed before the division), so that one
// pair that does not match moves the peak by its share only. The fine position is the best
// whole or half pixel within 2 of the climb's end, scored without interpolation (f(j)
// against g(2c - j): interpolating lowers the energy of noise between samples and would draw
// the peak to half pixels), refined by the vertex of the parabola through its score and its
// neighbours' half a pixel away.
double searchCorPairs(const std::vector<const double *> &f, const std::vector<const double *> &g,
    int length, double start, double fraction);

// Attenuation ln((I0 - BG) / (I - BG)) of a raw line, a non-positive difference counting as
// 1. Without an I0 line the line's own largest intensity stands in for I0, without a BG line
// the background is 0; either way the open beam beside the object scores about 0.
void attenuationLine(
    const double *line, const double *i0, const double *bg, int length, double *out);

// The whole guess on an image set at `slice`, searched from `start` on attenuation lines, so
// that one bad projection (a jerk, a flash) cannot move it:
// - over 360 degrees (a range of 270 or more): every pair of images half a turn apart,
//   searched together (searchCorPairs);
// - over 180 degrees: the set mirrored about the axis continues it past its end, so the
//   images near that seam pair up across it (image a with image count - m + a, m steps
//   apart, up to 16 steps and 12 degrees). Each pair's own centre is moved by the sample's
//   turn between its two images, sin(g / 2) (Z cos(mid) - X sin(mid)) for gap g and mean
//   angle mid; that model is fitted over the pairs, leaving out the seam image that agrees
//   least and weighing the rest by Tukey's biweight, and gives the centre at no gap. When
//   the sample stays clear of the line's ends in every image, the centres of mass of all
//   images (which follow c + X cos(theta) + Z sin(theta), fitted alike) give the centre
//   instead, as long as they agree with the mirror within half a pixel: they need no
//   interpolation between samples, which leaves the mirror of a sharp-edged sample a few
//   tenths of a pixel off when the set is coarse. `first` does not matter there;
// - a set too coarse for the seam (fewer than two steps within 12 degrees, or fewer than 8
//   images): image `first` and its partner (corPartnerImage).
// Dead or saturated pixels (mendDeadPixels) are mended in the lines first. The guess is
// rounded to a hundredth of a pixel. False, leaving `found` alone, when the set
// has no partner image, no samples, or no such slice.
bool guessCorOnLines(const DetectorLines &lines, int slice, int first, double rangeDeg,
    double start, double fraction, double *found);

// Writes the attenuation line of image `image` (length values) into `out`.
using AttenuationOf = std::function<void(int image, double *out)>;

// The same guess on `count` attenuation lines of `length` samples, evenly spread over
// `rangeDeg`, given by `attenuation`.
bool guessCorOnAttenuation(const AttenuationOf &attenuation, int count, int length, int first,
    double rangeDeg, double start, double fraction, double *found);

// Whether a set of projections covers 180 or 360 degrees, from its data at `slice`: over 360
// degrees the projection half the set after the first mirrors the first about the axis; over
// 180 degrees the last one (a step short of half a turn) nearly does. Each candidate is
// scored by its best mirror correlation with the first projection (searchCor over `fraction`
// of the line, attenuation lines). Returns 360 or 180, and 0 when the set has fewer than 4
// images, no such slice, neither candidate holds any signal, or the better score leads by
// less than the noise of the scores could give (its shortfall from 1 smaller than the other's
// by at most 4.2 / sqrt(2 fraction L) of itself: a nearly round sample mirrors either way); the
// scores go to `score180` and `score360` when given.
double guessRangeOnLines(const DetectorLines &lines, int slice, double fraction,
    double *score180 = nullptr, double *score360 = nullptr);
