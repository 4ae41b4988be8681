#pragma once

// The symmetric sampling window around the centre of rotation of one detector line:
// 2 * half - 1 samples at cor - (half - 1) ... cor + (half - 1), so the centre always
// lands on the middle sample (index half - 1).
struct RowWindow
{
    bool rotAxIsV = true;
    int half = 0;
    int n = 0;
    double cor = 0.0;
    int corInt = 0;
    double corFrac = 0.0;
};

// Value at x on the straight line through (x0, y0) and (x1, y1); the mean when the two
// positions coincide.
inline double interpolate(double x, double x0, double y0, double x1, double y1)
{
    if (x0 == x1)
        return (y0 + y1) / 2.0;
    return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

// Line of `length` samples read at position p by interpolation between floor(p) and
// floor(p) + 1, a sample outside the line counting as 0.
double sampleLine(const double *line, int length, double p);

// Window for a line of `length` samples and the given centre. A centre too close to an
// end gives half <= 0 (and a non-positive n); a centre that is not a finite number gives
// an empty window.
RowWindow makeRowWindow(bool rotAxIsV, int length, double cor);

// Writes the window's n samples of `line` into `out`. Returns false, writing nothing,
// when the window is empty or would reach outside the line.
bool resampleRow(const double *line, int length, const RowWindow &window, double *out);
