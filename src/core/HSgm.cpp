#include "HSgm.h"

#include <new>

void HSgm::setSize(int newW, int newH)
{
    sgm.reset();
    rawSgm.reset();
    w = newW;
    h = newH;
    // Both factors must be positive: a product of two negatives is positive as well.
    if (w > 0 && h > 0) {
        const auto count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        // A failed allocation leaves the record without data rather than ending the program.
        sgm.reset(new (std::nothrow) double[count]);
        rawSgm.reset(new (std::nothrow) double[count]);
        if (!sgm || !rawSgm) {
            sgm.reset();
            rawSgm.reset();
        }
    }
}
