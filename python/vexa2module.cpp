// The vexa2 Python module: the program's reconstruction engines and readers for NumPy arrays
// in TomoPy's order (projections, rows, columns), so that a notebook gets the same slices as
// the window and vexa2-recon.
// Python's headers come first: they use "slots" as a name, which Qt defines as a macro.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "CorSearch.h"
#include "CtEngine.h"
#include "CtFilter.h"
#include "CtMethod.h"
#include "CtParams.h"
#include "DxchangeFile.h"
#include "HSgm.h"
#include "ImgData.h"
#include "RingRemoval.h"
#include "RowWindow.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace {

using FloatArray = py::array_t<float, py::array::c_style>;
using DoubleArray = py::array_t<double, py::array::c_style>;

[[noreturn]] void refuse(const std::string &message)
{
    throw py::value_error(message);
}

std::string dtypeName(const py::array &a)
{
    return py::str(a.dtype()).cast<std::string>();
}

std::string shapeText(const py::array &a)
{
    std::string s = "(";
    for (py::ssize_t k = 0; k < a.ndim(); ++k)
        s += (k ? ", " : "") + std::to_string(a.shape(k));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

bool isFloat(const py::array &a)
{
    return a.dtype().kind() == 'f';
}

bool isNumber(const py::array &a)
{
    const char k = a.dtype().kind();
    return k == 'f' || k == 'i' || k == 'u';
}

// A 1-D array of angles as doubles.
std::vector<double> angles(const py::object &theta, py::ssize_t projections)
{
    const py::array a = py::array::ensure(theta);
    if (!a || a.ndim() != 1 || !isNumber(a))
        refuse("theta must be a 1-D array of angles in radians");
    if (a.shape(0) != projections)
        refuse("theta has " + std::to_string(a.shape(0)) + " angles but tomo "
            + std::to_string(projections) + " projections");
    const DoubleArray d = DoubleArray::ensure(a);
    std::vector<double> out(d.data(), d.data() + projections);
    for (double v : out)
        if (!std::isfinite(v))
            refuse("theta holds an angle that is not a finite number");
    return out;
}

// How the rows of a slice are turned: one common step (angle0 + i * step), or each row at
// its own angle with the weight of the angle it stands for.
struct AngleSet
{
    double angle0 = 0.0;
    double step = 0.0;
    std::vector<double> own; // empty for a common step
    std::vector<double> weights;
};

AngleSet angleSet(const std::vector<double> &theta)
{
    AngleSet s;
    const size_t n = theta.size();
    double first = 0.0, step = 0.0;
    if (n > 1 && DxchangeFile::evenlySpread(theta, first, step)) {
        // The step as the program derives it from a whole number of degrees (180 for a set
        // spread over a half turn without its end), so that the angles are those of the
        // program's own runs to the last bit.
        double rangeDeg = step * double(n) * 180.0 / std::numbers::pi;
        if (std::abs(rangeDeg - std::round(rangeDeg)) < 1e-9 * std::max(1.0, std::abs(rangeDeg)))
            rangeDeg = std::round(rangeDeg);
        s.angle0 = first;
        s.step = rangeDeg / 180.0 * std::numbers::pi / double(n);
        return s;
    }
    const auto [lo, hi] = std::minmax_element(theta.begin(), theta.end());
    if (n < 2 || !(*hi > *lo))
        refuse("theta must hold at least two different angles");
    s.own = theta;
    s.weights = rowWeightsOf(theta, (*hi - *lo) / double(n - 1) * double(n));
    return s;
}

// tomo as float32 or float64, C order, (projections, rows, columns).
py::array tomoArray(const py::object &tomo)
{
    const py::array a = py::array::ensure(tomo);
    if (!a)
        refuse("tomo must be a NumPy array");
    if (a.ndim() != 3)
        refuse("tomo must have 3 dimensions (projections, rows, columns), not " + shapeText(a));
    if (!isFloat(a) || (a.itemsize() != 4 && a.itemsize() != 8))
        refuse("tomo must hold float32 (or float64) line integrals, not " + dtypeName(a));
    if (a.shape(0) < 2 || a.shape(1) < 1 || a.shape(2) < 4)
        refuse("tomo of shape " + shapeText(a)
            + " is too small: at least 2 projections of 1 row of 4 columns");
    if (a.itemsize() == 4)
        return FloatArray::ensure(a);
    return DoubleArray::ensure(a);
}

// Copies detector line `row` of projection `p` into `out` as doubles.
struct TomoLines
{
    const float *f = nullptr;
    const double *d = nullptr;
    py::ssize_t rows = 0, columns = 0;

    void line(py::ssize_t p, py::ssize_t row, double *out) const
    {
        const py::ssize_t at = (p * rows + row) * columns;
        if (f)
            std::copy(f + at, f + at + columns, out);
        else
            std::copy(d + at, d + at + columns, out);
    }
};

TomoLines linesOf(const py::array &a)
{
    TomoLines t;
    t.rows = a.shape(1);
    t.columns = a.shape(2);
    if (a.itemsize() == 4)
        t.f = static_cast<const float *>(a.data());
    else
        t.d = static_cast<const double *>(a.data());
    return t;
}

int threadCount(const py::object &threads)
{
    if (threads.is_none())
        return int(std::max(1u, std::thread::hardware_concurrency()));
    // Python and NumPy integers alike.
    if (!PyIndex_Check(threads.ptr()) || py::isinstance<py::bool_>(threads))
        refuse("threads must be None or a whole number from 1 to 4096");
    const long long n = threads.cast<long long>();
    if (n < 1 || n > 4096)
        refuse("threads must be None or a whole number from 1 to 4096");
    return int(n);
}

// One worker's engines and buffers, kept from slice to slice.
struct SliceWorker
{
    HSgm sgm;
    std::unique_ptr<CtEngine> engine;
    RingRemoval rings;
    std::vector<double> line;
};

FloatArray recon(const py::object &tomoObj, const py::object &thetaObj, const py::object &center,
    const std::string &methodName, const std::string &filterName, int ringRemoval,
    const py::object &threads)
{
    const py::array tomo = tomoArray(tomoObj);
    const py::ssize_t projections = tomo.shape(0), rows = tomo.shape(1), length = tomo.shape(2);
    const std::vector<double> theta = angles(thetaObj, projections);
    if (!py::isinstance<py::float_>(center) && !py::isinstance<py::int_>(center)) {
        const py::array c = py::array::ensure(center);
        if (!c || c.ndim() != 0 || !isNumber(c))
            refuse("center must be one number: the column of the rotation axis");
    }
    const double cor = center.cast<double>();
    const RowWindow window = makeRowWindow(true, int(length), cor);
    if (!std::isfinite(cor) || std::floor(cor) <= 0.0 || std::ceil(cor) >= double(length)
        || window.n / 2 * 2 < 2)
        refuse("center " + std::to_string(cor) + " must lie in 1 ... " + std::to_string(length - 2)
            + " with room for a slice around it");
    CtMethod method = CtMethod::Gridding;
    if (!CtMethods::fromName(QString::fromStdString(methodName), &method))
        refuse("method must be one of " + CtMethods::names().join(", ").toStdString() + ", not '"
            + methodName + "'");
    CtFilterKind filter = CtFilterKind::RampPadded;
    if (!CtFilter::fromName(QString::fromStdString(filterName), &filter))
        refuse("filter must be one of " + CtFilter::names().join(", ").toStdString() + ", not '"
            + filterName + "'");
    if (ringRemoval < 0 || ringRemoval > RingRemoval::maxLevel)
        refuse("ring_removal must be a whole number from 0 to "
            + std::to_string(RingRemoval::maxLevel));
    const int workers = int(std::min<py::ssize_t>(threadCount(threads), rows));
    const AngleSet set = angleSet(theta);

    const int n = window.n / 2 * 2;
    FloatArray result({ rows, py::ssize_t(n), py::ssize_t(n) });
    float *out = result.mutable_data();
    const TomoLines lines = linesOf(tomo);
    std::atomic<py::ssize_t> next = 0;
    std::atomic<bool> failed = false;
    {
        // The arrays stay alive and unchanged: this call holds them and Python code cannot
        // run on them before it returns.
        py::gil_scoped_release released;
        const auto work = [&] {
            auto w = std::make_unique<SliceWorker>();
            w->engine = CtMethods::info(method).make();
            w->line.resize(size_t(length));
            const int p = int(projections);
            for (py::ssize_t r = next++; r < rows && !failed; r = next++) {
                w->sgm.setSize(window.n, p);
                for (int i = 0; i < p; ++i) {
                    lines.line(i, r, w->line.data());
                    resampleRow(w->line.data(), int(length), window, w->sgm.sgmRow(i));
                }
                if (!w->rings.apply(w->sgm.sgm.get(), w->sgm.w, w->sgm.h, ringRemoval)) {
                    failed = true;
                    break;
                }
                for (size_t i = 0; i < set.weights.size(); ++i) {
                    double *row = w->sgm.sgmRow(int(i));
                    for (int c = 0; c < w->sgm.w; ++c)
                        row[c] *= set.weights[i];
                }
                const double *own = set.own.empty() ? nullptr : set.own.data();
                CtEngine &engine = *w->engine;
                bool done = engine.setFilter(filter) && engine.prepare(n, p);
                engine.setProjections(p);
                engine.setRowAngles(own);
                done = done && engine.reconstruct(w->sgm, 0, n, 0, n, set.angle0, set.step);
                const double *values = engine.resultData();
                if (!done) {
                    failed = true;
                    break;
                }
                float *slice = out + r * n * n;
                for (py::ssize_t k = 0; k < py::ssize_t(n) * n; ++k)
                    slice[k] = static_cast<float>(values[k]);
            }
        };
        std::vector<std::thread> pool;
        for (int t = 1; t < workers; ++t)
            pool.emplace_back(work);
        work();
        for (std::thread &t : pool)
            t.join();
    }
    if (failed)
        throw std::bad_alloc();
    return result;
}

// (rows, columns) from a 2-D image or the mean of a 3-D stack of them, as doubles.
std::vector<double> referenceImage(
    const py::object &obj, const char *name, py::ssize_t rows, py::ssize_t columns)
{
    const py::array a = py::array::ensure(obj);
    if (!a || !isNumber(a) || (a.ndim() != 2 && a.ndim() != 3))
        refuse(std::string(name) + " must be a numeric array of shape (rows, columns) or "
            + "(images, rows, columns)");
    const bool stack = a.ndim() == 3;
    const py::ssize_t images = stack ? a.shape(0) : 1;
    if (a.shape(stack ? 1 : 0) != rows || a.shape(stack ? 2 : 1) != columns || images < 1)
        refuse(std::string(name) + " of shape " + shapeText(a) + " does not match images of "
            + std::to_string(rows) + " x " + std::to_string(columns));
    const DoubleArray d = DoubleArray::ensure(a);
    const size_t size = size_t(rows * columns);
    std::vector<double> mean(size, 0.0);
    for (py::ssize_t k = 0; k < images; ++k)
        for (size_t i = 0; i < size; ++i)
            mean[i] += d.data()[size_t(k) * size + i];
    for (double &v : mean)
        v /= double(images);
    return mean;
}

FloatArray normalize(
    const py::object &projObj, const py::object &flatObj, const py::object &darkObj)
{
    const py::array proj = py::array::ensure(projObj);
    if (!proj || proj.ndim() != 3 || !isNumber(proj))
        refuse("proj must be a numeric array of shape (projections, rows, columns)");
    const py::ssize_t count = proj.shape(0), rows = proj.shape(1), columns = proj.shape(2);
    const std::vector<double> flat = referenceImage(flatObj, "flat", rows, columns);
    const std::vector<double> dark = referenceImage(darkObj, "dark", rows, columns);
    const DoubleArray p = DoubleArray::ensure(proj);
    FloatArray out({ count, rows, columns });
    const double *in = p.data();
    float *o = out.mutable_data();
    {
        py::gil_scoped_release released;
        const size_t size = size_t(rows * columns);
        for (py::ssize_t k = 0; k < count; ++k) {
            for (size_t i = 0; i < size; ++i) {
                // The program's rule: a non-positive difference counts as 1.
                double a = flat[i] - dark[i];
                double b = in[size_t(k) * size + i] - dark[i];
                if (!(a > 0.0))
                    a = 1.0;
                if (!(b > 0.0))
                    b = 1.0;
                o[size_t(k) * size + i] = static_cast<float>(b / a);
            }
        }
    }
    return out;
}

double findCenter(const py::object &tomoObj, const py::object &thetaObj, const py::object &rowObj,
    double fraction)
{
    const py::array tomo = tomoArray(tomoObj);
    const py::ssize_t projections = tomo.shape(0), rows = tomo.shape(1), length = tomo.shape(2);
    const std::vector<double> theta = angles(thetaObj, projections);
    const py::ssize_t row = rowObj.is_none() ? rows / 2 : rowObj.cast<py::ssize_t>();
    if (row < 0 || row >= rows)
        refuse("row must lie in 0 ... " + std::to_string(rows - 1));
    if (!(fraction > 0.0 && fraction <= 1.0))
        refuse("fraction must lie in (0, 1]");
    const TomoLines lines = linesOf(tomo);
    const auto attenuation = [&](int image, double *out) { lines.line(image, row, out); };
    // Evenly spread angles over half or a whole turn (either way round): the program's
    // guess, from all projections.
    const double step = (theta.back() - theta.front()) / double(projections - 1);
    bool even = projections >= 4 && std::abs(step) > 0.0;
    for (py::ssize_t i = 0; even && i < projections; ++i)
        even = std::abs(theta[size_t(i)] - theta[0] - double(i) * step) <= 1e-3 * std::abs(step);
    const double spanDeg = std::abs(step) * double(projections) * 180.0 / std::numbers::pi;
    for (const double turn : { 180.0, 360.0 }) {
        if (!even || std::abs(spanDeg - turn) > 1e-3 * turn)
            continue;
        double found = 0.0;
        bool ok = false;
        {
            py::gil_scoped_release released;
            ok = guessCorOnAttenuation(attenuation, int(projections), int(length), 0, turn,
                double(length) / 2.0, fraction, &found);
        }
        if (ok)
            return found;
    }
    // Other angles: the first projection and the one nearest half a turn from it.
    py::ssize_t partner = -1;
    double best = 1e300;
    for (py::ssize_t i = 1; i < projections; ++i) {
        double d = std::fmod(
            std::abs(theta[size_t(i)] - theta[0] - std::numbers::pi), 2.0 * std::numbers::pi);
        d = std::min(d, 2.0 * std::numbers::pi - d);
        if (d < best) {
            best = d;
            partner = i;
        }
    }
    if (partner < 0 || best > std::numbers::pi / 4)
        refuse("theta holds no projection near half a turn from the first");
    std::vector<double> f(static_cast<size_t>(length)), g(static_cast<size_t>(length));
    lines.line(0, row, f.data());
    lines.line(partner, row, g.data());
    py::gil_scoped_release released;
    return searchCor(f.data(), g.data(), int(length), double(length) / 2.0, fraction);
}

// An image file (or HDF5 address) read whole into rows x columns doubles.
std::unique_ptr<ImgData> loadImage(const QString &path)
{
    std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(path)));
    if (!img)
        throw py::value_error("not an image file: " + path.toStdString());
    img->fileName = path;
    if (!img->load())
        throw std::runtime_error(
            "cannot read " + path.toStdString() + ": " + img->failure.toStdString());
    return img;
}

void copyImage(const ImgData &img, double *out)
{
    for (int y = 0; y < img.height; ++y)
        img.hLine(y, out + size_t(y) * img.width);
}

py::tuple readProjections(const std::string &pathText, double rangeDeg)
{
    const QString path = QString::fromStdString(pathText);
    const QFileInfo info(path);
    if (!info.exists())
        throw py::value_error("path: no such folder or file: " + pathText);
    if (!(rangeDeg > 0.0) || !std::isfinite(rangeDeg))
        refuse("range_deg must be a positive number of degrees");
    QStringList files;
    QString flatPath, darkPath;
    std::vector<double> thetaDeg;
    if (info.isFile()) {
        DxchangeFile::Info h5;
        QString error;
        if (!DxchangeFile::isHdf5(path) || !DxchangeFile::inspect(path, h5, &error))
            throw py::value_error("path: "
                + (error.isEmpty() ? pathText + " is neither a folder nor a DXchange HDF5 file"
                                   : error.toStdString()));
        files = DxchangeFile::projectionAddresses(path, h5.projections);
        if (h5.whites > 0)
            flatPath = DxchangeFile::address(path, DxchangeFile::Part::White);
        if (h5.darks > 0)
            darkPath = DxchangeFile::address(path, DxchangeFile::Part::Dark);
        thetaDeg = h5.theta;
    } else {
        const QDir dir(path);
        for (const QString &f :
            dir.entryList({ "*.img", "*.tif", "*.tiff" }, QDir::Files, QDir::Name))
            files << dir.filePath(f);
        if (QFileInfo::exists(dir.filePath("ref/I0.img")))
            flatPath = dir.filePath("ref/I0.img");
        if (QFileInfo::exists(dir.filePath("ref/BG.img")))
            darkPath = dir.filePath("ref/BG.img");
    }
    if (files.isEmpty())
        throw py::value_error("path: no projection images in " + pathText);

    std::vector<std::unique_ptr<ImgData>> images;
    int width = 0, height = 0;
    {
        py::gil_scoped_release released;
        for (const QString &f : files) {
            images.push_back(loadImage(f));
            if (images.size() == 1) {
                width = images[0]->width;
                height = images[0]->height;
            } else if (images.back()->width != width || images.back()->height != height) {
                throw std::runtime_error(
                    f.toStdString() + " is not of the size of the first image");
            }
        }
    }
    const py::ssize_t count = py::ssize_t(images.size());
    FloatArray proj({ count, py::ssize_t(height), py::ssize_t(width) });
    std::vector<double> buffer(size_t(width) * height);
    for (py::ssize_t k = 0; k < count; ++k) {
        copyImage(*images[size_t(k)], buffer.data());
        float *o = proj.mutable_data() + size_t(k) * buffer.size();
        for (size_t i = 0; i < buffer.size(); ++i)
            o[i] = static_cast<float>(buffer[i]);
        images[size_t(k)].reset();
    }
    const auto reference = [&](const QString &p) -> py::object {
        if (p.isEmpty())
            return py::none();
        const std::unique_ptr<ImgData> img = loadImage(p);
        if (img->width != width || img->height != height)
            throw std::runtime_error(p.toStdString() + " is not of the size of the projections");
        DoubleArray a({ py::ssize_t(height), py::ssize_t(width) });
        copyImage(*img, a.mutable_data());
        return py::object(std::move(a));
    };
    DoubleArray theta(count);
    for (py::ssize_t k = 0; k < count; ++k)
        theta.mutable_data()[k] = thetaDeg.size() == size_t(count)
            ? thetaDeg[size_t(k)] * std::numbers::pi / 180.0
            : double(k) * (rangeDeg / 180.0 * std::numbers::pi / double(count));
    return py::make_tuple(proj, theta, reference(flatPath), reference(darkPath));
}

} // namespace

PYBIND11_MODULE(vexa2, m)
{
    m.doc() = "Vexa2's reconstruction for NumPy arrays in TomoPy's order (projections, rows, "
              "columns):\nthe engines of the program and of vexa2-recon, with the same results.";
    m.attr("__version__") = VEXA_VERSION;
    m.def("recon", &recon, py::arg("tomo"), py::arg("theta"), py::arg("center"),
        py::arg("method") = "gridding", py::arg("filter") = "ramp_padded",
        py::arg("ring_removal") = 0, py::arg("threads") = py::none(),
        R"(Reconstructs every row of tomo.

tomo: line integrals -log(I / I0), float32 (or float64), shape (projections, rows, columns),
    as tomopy.recon takes them; row r of every projection makes slice r.
theta: the projection angles in radians, one per projection. Evenly spread angles are used as
    theta[0] + i * step; others each at its own angle, weighted by the angle it stands for.
center: column of the rotation axis (0 = centre of the first column; fractions allowed),
    the same for every row.
method: 'gridding' (direct Fourier, fast, single precision) or 'fbp' (filtered
    back-projection, double precision).
filter: 'ramp_padded' (exact values), 'ramp' (unpadded, reads large bodies low; gridding uses
    ramp_padded for it), 'shepp_logan', 'cosine', 'hamming', 'hann'.
ring_removal: widest detector stripe removed from each sinogram, in samples (0 = off, 2 or 3
    suits most data, at most 20).
threads: worker threads, None for one per hardware thread.

Returns float32 slices of shape (rows, N, N) with N = 2 * floor(min(center, columns - 1 -
center)) - 2, the square centred on the axis that the detector covers at every angle; pixels
outside its inscribed circle are 0. Pixel (z, x) lies at X = x - N/2, Z = z - N/2 from the axis
and projects onto detector column center + X cos(theta) - Z sin(theta).

Scale: twice the linear attenuation coefficient per pixel (2 mu; divide by 2 for mu per pixel,
TomoPy's scale), for a half-turn and a full-turn set alike. A slice equals, bit for bit, the
float TIFF that vexa2-recon writes with the same method, filter and centre (for a whole-pixel
centre: the program interpolates intensities, this function line integrals). With a padded
filter, on a phantom of disks projected over 360 angles (even or not), every pixel more than 3
pixels from an edge is within 1.5 % of the slice's largest value and their RMS within 0.25 %;
'ramp' with fbp reads large bodies low and is not for quantitative work.

Raises ValueError naming the argument for a wrong shape, dtype, length or value.
)");
    m.def("normalize", &normalize, py::arg("proj"), py::arg("flat"), py::arg("dark"),
        R"(Transmission (proj - dark) / (flat - dark) as float32, shape of proj.

proj: (projections, rows, columns), any numeric type; flat and dark: (rows, columns) or stacks
(images, rows, columns), which are averaged. A difference that is not positive counts as 1,
as in the program. Take -numpy.log of the result for recon.)");
    m.def("find_center", &findCenter, py::arg("tomo"), py::arg("theta"),
        py::arg("row") = py::none(), py::arg("fraction") = 0.35,
        R"(Guesses the rotation axis column of tomo (line integrals, as for recon).

Row `row` (default: the middle one). Over angles evenly spread over half or a whole turn,
as the program's "Guess CoR" does: over a whole turn every pair of projections half a turn
apart, over half a turn the pairs across the seam where the mirrored set continues the set
and the centres of mass of all projections, so one bad projection cannot move it (a
hundredth of a pixel). Other angles: the first projection against the one nearest half a
turn later, mirrored, over `fraction` of the line on either side (tenths of a pixel).)");
    m.def("read_projections", &readProjections, py::arg("path"), py::arg("range_deg") = 180.0,
        R"(Reads a data set: (proj, theta, flat, dark).

path: a folder of camera files (*.img ITEX, *.tif, in name order; flat = ref/I0.img and dark =
ref/BG.img when present), or a DXchange HDF5 file (/exchange/data, data_white, data_dark,
theta). proj: float32 (projections, rows, columns), the counts as stored; theta: radians, from
the file, else spread evenly over range_deg degrees (i * range / projections); flat, dark:
float64 (rows, columns) (the mean of the white or dark images of an HDF5 file), or None.)");
}
