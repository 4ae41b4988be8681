#include "CtImageData.h"

#include "CtParams.h"
#include "TextUtil.h"

#include <QString>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kPow10[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12,
    1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 }; // all exact in binary

// 10^k for k = kFirstDecade ... kFirstDecade + 48, for finding the decade of a number.
constexpr int kFirstDecade = -20;
constexpr double kDecades[] = { 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12,
    1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
    1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
    1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29 };

constexpr char kTwoDigits[] = "00010203040506070809"
                              "10111213141516171819"
                              "20212223242526272829"
                              "30313233343536373839"
                              "40414243444546474849"
                              "50515253545556575859"
                              "60616263646566676869"
                              "70717273747576777879"
                              "80818283848586878889"
                              "90919293949596979899";

// A region larger than this (8192 x 8192 pixels) is a typing error, not a slice: its text
// would need gigabytes.
constexpr std::int64_t kMaxLines = std::int64_t(1) << 26;
// Integer parts beyond this cannot be counted exactly in doubles.
constexpr double kMaxCoord = 1e15;
// Longest text writeStreamDouble produces, e.g. "-1.23457e-308", and the room it may touch.
constexpr int kMaxDoubleChars = 13;
constexpr int kDoubleRoom = 16;
// Room the writing of one line may touch beyond its end (fixed-size copies).
constexpr int kLineSlack = 32;

// Rounds a > 0 to six significant digits: a ~ n * 10^(e10 - 5) with 100000 <= n <= 999999.
// Ties round away from zero, as the stream does. The scaled value p is correctly rounded, so
// only when p itself lies on a tie does the part lost by rounding (recovered exactly with an
// fma) decide the direction. Returns false outside the range where the powers of ten used
// are exact.
bool sixDigitsFast(double a, std::uint32_t &n, int &e10)
{
    if (!(a >= 1e-17 && a < 1e28))
        return false;
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int e2 = int((bits >> 52) & 0x7ff) - 1023;
    // floor(e2 * log10(2)) is the decade or one below it; one comparison settles which
    // (a power of ten inexact in binary may still misplace a neighbour, which the loop
    // below corrects).
    e10 = (e2 * 1233) >> 12;
    e10 += int(a >= kDecades[e10 + 1 - kFirstDecade]);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int k = 5 - e10;
        if (k > 22 || k < -22)
            return false;
        const double s = kPow10[k >= 0 ? k : -k];
        const double p = k >= 0 ? a * s : a / s;
        if (p < 100000.0) {
            --e10;
            continue;
        }
        if (p >= 1000000.0) {
            if (p == 1000000.0) { // within half an ulp of 10^6: rounds up to it either way
                n = 100000;
                ++e10;
                return true;
            }
            ++e10;
            continue;
        }
        std::uint32_t m = std::uint32_t(p);
        const double f = p - double(m); // exact
        m += std::uint32_t(f > 0.5);
        if (f == 0.5) {
            // The exact a * s equals p + r; the exact a / s equals p + r / s (s > 0).
            const double r = k >= 0 ? std::fma(a, s, -p) : std::fma(-p, s, a);
            if (r >= 0.0)
                ++m;
        }
        if (m == 1000000) {
            m = 100000;
            ++e10;
        }
        n = m;
        return true;
    }
    return false;
}

// Correct rounding by the standard library for the far ranges, where no exact decimal tie at
// the seventh digit can exist, so its tie rule never matters.
void sixDigitsSlow(double a, std::uint32_t &n, int &e10)
{
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 5);
    // "d.ddddde[+-]xx"
    n = std::uint32_t(buf[0] - '0');
    for (int i = 2; i < 7; ++i)
        n = n * 10 + std::uint32_t(buf[i] - '0');
    int e = 0;
    for (const char *c = buf + 9; c < res.ptr; ++c)
        e = e * 10 + (*c - '0');
    e10 = buf[8] == '-' ? -e : e;
}

char *writeUInt(char *out, std::uint64_t v)
{
    int len = 1;
    for (std::uint64_t t = v; t >= 10; t /= 10)
        ++len;
    char *p = out + len;
    while (v >= 100) {
        const unsigned i = unsigned(v % 100) * 2;
        v /= 100;
        p -= 2;
        std::memcpy(p, kTwoDigits + i, 2);
    }
    if (v >= 10)
        std::memcpy(p - 2, kTwoDigits + v * 2, 2);
    else
        p[-1] = char('0' + v);
    return out + len;
}

char *writeInt(char *out, std::int64_t v)
{
    if (v < 0) {
        *out++ = '-';
        return writeUInt(out, std::uint64_t(0) - std::uint64_t(v));
    }
    return writeUInt(out, std::uint64_t(v));
}

int decimalWidth(std::int64_t v)
{
    char buf[24];
    return int(writeInt(buf, v) - buf);
}

// Integer positions start at trunc(a0) and run while below a1; false when the span is absurd.
bool integerSpan(double a0, double a1, std::int64_t &first, std::int64_t &count)
{
    first = 0;
    count = 0;
    const double f = std::trunc(a0);
    if (!(f < a1)) // also NaN on either side
        return true;
    if (f < -kMaxCoord || a1 > kMaxCoord)
        return false;
    first = std::int64_t(f);
    count = std::int64_t(std::ceil(a1) - 1.0) - first + 1;
    return true;
}

void appendDouble(QByteArray &out, double v)
{
    char buf[kDoubleRoom];
    out.append(buf, writeStreamDouble(buf, v) - buf);
}

} // namespace

char *writeStreamDouble(char *out, double v)
{
    if (std::isnan(v)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (v == 0.0) // negative zero too: the stream drops its sign
        return *out = '0', out + 1;
    if (v < 0.0) {
        *out++ = '-';
        v = -v;
    }
    if (std::isinf(v)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }

    std::uint32_t n;
    int e10;
    if (!sixDigitsFast(v, n, e10))
        sixDigitsSlow(v, n, e10);

    // The six digits as characters in one word, first digit in the lowest byte, so that the
    // common layouts are put together without branches on the digit count.
    static_assert(std::endian::native == std::endian::little);
    const std::uint32_t hi = n / 10000, mid = (n / 100) % 100, lo = n % 100;
    std::uint16_t pair[3];
    std::memcpy(&pair[0], kTwoDigits + hi * 2, 2);
    std::memcpy(&pair[1], kTwoDigits + mid * 2, 2);
    std::memcpy(&pair[2], kTwoDigits + lo * 2, 2);
    const std::uint64_t digits
        = std::uint64_t(pair[0]) | std::uint64_t(pair[1]) << 16 | std::uint64_t(pair[2]) << 32;
    // Trailing '0' digits are zero bytes here; the first digit never is.
    const std::uint64_t values = digits ^ 0x303030303030ull;
    const int nd = 6 - std::countl_zero(values << 16) / 8;

    if (e10 >= 0 && e10 < 6) {
        const int intDigits = e10 + 1;
        const std::uint64_t low = digits & ((std::uint64_t(1) << (8 * intDigits)) - 1);
        const std::uint64_t high = (digits >> (8 * intDigits)) << (8 * (intDigits + 1));
        const std::uint64_t word = low | std::uint64_t('.') << (8 * intDigits) | high;
        std::memcpy(out, &word, 8);
        return out + (nd > intDigits ? nd + 1 : intDigits);
    }
    if (e10 < 0 && e10 >= -4) {
        std::memcpy(out, "0.000000", 8);
        const int zeros = -e10 - 1;
        std::memcpy(out + 2 + zeros, &digits, 8);
        return out + 2 + zeros + nd;
    }
    char d[8];
    std::memcpy(d, &digits, 8);
    *out++ = d[0];
    if (nd > 1) {
        *out++ = '.';
        for (int i = 1; i < nd; ++i)
            *out++ = d[i];
    }
    *out++ = 'e';
    int e = e10;
    if (e < 0) {
        *out++ = '-';
        e = -e;
    } else {
        *out++ = '+';
    }
    if (e >= 100)
        *out++ = char('0' + e / 100);
    std::memcpy(out, kTwoDigits + (e % 100) * 2, 2);
    return out + 2;
}

QByteArray makeCtImageData(const double *values, int rows, int cols, double x0, double z0,
    double x1, double z1, double lowerLimit, double upperLimit, double dataOffset)
{
    QByteArray out;
    out.reserve(256);
    out.append("#VEXA-CTImg\n");
    out.append("# Range_X0       : ");
    appendDouble(out, x0);
    out.append("\n# Range_Y0       : ");
    appendDouble(out, z0);
    out.append("\n# Range_X1       : ");
    appendDouble(out, x1 - 1.0);
    out.append("\n# Range_Y1       : ");
    appendDouble(out, z1 - 1.0);
    out.append("\n# sx,sy, ex,ey   : ");
    appendDouble(out, x0);
    out.append('\t');
    appendDouble(out, z0);
    out.append('\t');
    appendDouble(out, x1 - 1.0);
    out.append('\t');
    appendDouble(out, z1 - 1.0);
    out.append('\n');

    std::int64_t xFirst, nx, zFirst, nz;
    const bool xOk = integerSpan(x0, x1, xFirst, nx);
    const bool zOk = integerSpan(z0, z1, zFirst, nz);
    if (!xOk || !zOk || (nx > 0 && nz > kMaxLines / nx)) {
        logLine("CT image data region too large, only the header is written :",
            QString("%1 %2 %3 %4").arg(x0).arg(z0).arg(x1).arg(z1));
        return out;
    }
    if (nx <= 0 || nz <= 0)
        return out;
    if (!values) {
        rows = 0;
        cols = 0;
    }

    const std::int64_t xEnd = xFirst + nx;
    const std::int64_t zEnd = zFirst + nz;
    const int xWidth = std::max(decimalWidth(xFirst), decimalWidth(xEnd - 1));
    const int zWidth = std::max(decimalWidth(zFirst), decimalWidth(zEnd - 1));
    const std::int64_t lineBound = xWidth + zWidth + kMaxDoubleChars + 3;

    const qsizetype headerSize = out.size();
    out.resize(headerSize + qsizetype(nx * nz * lineBound) + kLineSlack);
    char *p = out.data() + headerSize;

    char outside[kDoubleRoom] = {};
    const int outsideLen = int(writeStreamDouble(outside, 0.0 + dataOffset) - outside);
    // Columns [inFirst, inEnd) of the region lie inside the result.
    std::int64_t inFirst = std::max<std::int64_t>(xFirst, 0);
    std::int64_t inEnd = std::min<std::int64_t>(xEnd, cols);
    if (inEnd <= inFirst)
        inFirst = inEnd = xEnd;

    char zText[kLineSlack] = {};
    for (std::int64_t z = zFirst; z < zEnd; ++z) {
        zText[0] = '\t';
        char *ze = writeInt(zText + 1, z);
        *ze++ = '\t';
        const size_t zLen = size_t(ze - zText);

        const bool rowInside = z >= 0 && z < rows;
        const std::int64_t a = rowInside ? inFirst : xEnd;
        const std::int64_t b = rowInside ? inEnd : xEnd;
        std::int64_t x = xFirst;
        for (; x < a; ++x) {
            p = writeInt(p, x);
            std::memcpy(p, zText, sizeof zText);
            p += zLen;
            std::memcpy(p, outside, sizeof outside);
            p += outsideLen;
            *p++ = '\n';
        }
        const double *row = rowInside ? values + z * std::int64_t(cols) : nullptr;
        for (; x < b; ++x) {
            double c = row[x];
            // A value that is not a number lies within no limits: it is cut like one outside.
            if (c < lowerLimit || c > upperLimit || std::isnan(c))
                c = 0.0;
            p = writeInt(p, x);
            std::memcpy(p, zText, sizeof zText);
            p += zLen;
            p = writeStreamDouble(p, c + dataOffset);
            *p++ = '\n';
        }
        for (; x < xEnd; ++x) {
            p = writeInt(p, x);
            std::memcpy(p, zText, sizeof zText);
            p += zLen;
            std::memcpy(p, outside, sizeof outside);
            p += outsideLen;
            *p++ = '\n';
        }
    }
    out.resize(p - out.constData());
    out.squeeze();
    return out;
}

QByteArray makeCtImageData(const double *values, int rows, int cols, double x0, double z0,
    double x1, double z1, const CtParams &params)
{
    return makeCtImageData(values, rows, cols, x0, z0, x1, z1, params.lowerLimit, params.upperLimit,
        params.dataOffset);
}
