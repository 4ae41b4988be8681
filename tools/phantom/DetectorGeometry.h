#pragma once

// Where the detector pixels of one projection lie relative to the rotation axis.
// A detector line is the set of pixels that sees one slice of the object: an image row
// when the axis is vertical, an image column when it is horizontal. Along the line the
// coordinate u (pixels, relative to the axis) is what the reconstruction calls the
// detector position; across the lines v is the object's coordinate along the axis.
struct DetectorGeometry
{
    int width = 256;
    int height = 256;
    double axisOffset = 0.0; // sub-pixel shift of the axis from the middle of a line
    bool horizontalAxis = false;

    // Pixels along one detector line and the number of lines (slices).
    int lineLength() const { return horizontalAxis ? height : width; }
    int lineCount() const { return horizontalAxis ? width : height; }

    // Position of the rotation axis in detector pixels along a line.
    double axis() const { return lineLength() / 2.0 + axisOffset; }

    // Largest distance from the axis, in whole pixels, that the sampled part of every
    // line covers on both sides; the reconstruction can only use this symmetric part.
    int usableHalfWidth() const;

    double u(int pixelAlongLine) const { return pixelAlongLine - axis(); }
    double v(int line) const { return line - lineCount() / 2.0; }

    bool isValid() const;
};
