#pragma once

// The value-to-grey mapping of a colour bar as a plain value, so that code on any thread
// can colour whole pictures from a snapshot: values vMin ... vMax span 0 ... 1, of which the
// part lo ... hi is spread over the grey levels 0 ... 255.
//
// Degenerate settings still give a defined grey in 0..255: a NaN value is black; with
// vMax == vMin every value above the range is white, below or at it black; with hi == lo
// the cut becomes a hard threshold (below black, above white, exactly at it black).
struct GreyLevels
{
    double vMin = 0, vMax = 1, lo = 0, hi = 1;

    int level(double v) const
    {
        const double f = (v - vMin) / (vMax - vMin);
        double g = (f - lo) * 256 / (hi - lo);
        // Written so that NaN (0/0 from equal bounds, or a NaN value) falls to 0.
        g = g > 0 ? g : 0.0;
        g = g < 255 ? g : 255.0;
        return static_cast<int>(g);
    }

    // Colours n values into n bytes.
    void fillRow(const double *src, int n, unsigned char *dst) const;
};
