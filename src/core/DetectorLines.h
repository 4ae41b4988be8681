#pragma once

// The detector lines of one image set seen along one axis. Implementations must allow
// concurrent reads: every call gets its own output buffer.
class DetectorLines
{
public:
    virtual ~DetectorLines() = default;
    // Samples per detector line (L).
    virtual int lineLength() const = 0;
    // Number of detector lines in one image, i.e. the valid slice numbers.
    virtual int lineCount() const = 0;
    // Number of projection images (C).
    virtual int imageCount() const = 0;
    // Line `slice` of projection `image` into `out` (lineLength() values).
    virtual void readProjection(int image, int slice, double *out) const = 0;
    // Line `slice` of the I0 (BG) image; false when there is no ready image.
    virtual bool readI0(int slice, double *out) const = 0;
    virtual bool readBg(int slice, double *out) const = 0;
};
