#pragma once

// Centre-of-rotation search over two raw detector lines f and g taken half a turn
// apart: g mirrored about the true centre matches f, and the product score peaks there.

// Image paired with `first`: the one int(180 / rangeDeg * count) images later, wrapped
// into the set. Returns -1 for an empty set or a range that is not a positive number.
int corPartnerImage(int first, int count, double rangeDeg);

// Sum over i = 0 ... 2L - 1 (x = i - L, |x| < fraction * L) of f(c + x) * g(c - 1 - x),
// both lines sampled by interpolation with 0 outside. 0 when L <= 0.
double corScore(const double *f, const double *g, int length, double c, double fraction);

// Hill climb from `start`: passes of 20 whole-pixel candidates around the best so far
// until a pass brings no strictly better score, then tenth-pixel steps within +-2.
// Returns the best position (`start` when nothing scores above 0).
double searchCor(const double *f, const double *g, int length, double start, double fraction);
