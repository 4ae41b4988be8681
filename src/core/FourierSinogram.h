#pragma once

#include <vector>

// Magnitude of the 2-D Fourier transform of a sinogram stacked on its left-right mirror
// image (2H rows of W samples, scaled by 1 / (2HW)), as 2H rows of W values with the zero
// frequency at the top-left. Empty when the sinogram has no samples. Plans a transform
// for the call: run it where planning is allowed (see FftwPlanner.h).
std::vector<double> fourierSinogram(const double *rawSgm, int w, int h);
