#pragma once

class CtBackProj;

// Back-projects the filtered rows 0 ... rows - 1 of `engine` over the region x0 <= x < x1,
// z0 <= z < z1 on `threads` threads at once (0: one per hardware thread), each thread taking
// bands of result rows in turn. Every pixel sums its projections in the same order as
// backProjectAll, so the result is the same to the last bit. False when the engine refuses
// (no matching result, angles that are not finite).
bool backProjectParallel(CtBackProj &engine, int rows, double x0, double x1, double z0, double z1,
    double angle0, double dAngle, int threads = 0);
