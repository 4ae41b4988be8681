"""The vexa2 module as a notebook uses it: against vexa2-recon's files, an analytic phantom
in TomoPy's order, and wrong arguments."""

import os
import struct
import subprocess
import tempfile
import unittest

import numpy as np

import vexa2

BIN = os.environ.get("VEXA_TEST_BIN_DIR", "")


def tool(rel):
    return os.path.join(BIN, rel)


def read_float_tiff(path):
    """Pixels of a little-endian, uncompressed, single-page 32-bit float TIFF file."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"II*\0", path
    (ifd,) = struct.unpack_from("<I", data, 4)
    (count,) = struct.unpack_from("<H", data, ifd)
    tags = {}
    for k in range(count):
        entry = ifd + 2 + 12 * k
        tag, kind, n = struct.unpack_from("<HHI", data, entry)
        code = "H" if kind == 3 else "I"
        size = 2 if kind == 3 else 4
        at = entry + 8 if n * size <= 4 else struct.unpack_from("<I", data, entry + 8)[0]
        tags[tag] = list(struct.unpack_from("<%d%s" % (n, code), data, at)) if kind in (3, 4) else None
    width, height = tags[256][0], tags[257][0]
    assert tags.get(259, [1])[0] == 1, "compressed"
    assert tags[339][0] == 3 and tags[258][0] == 32, "not float32"
    pixels = b"".join(data[o : o + c] for o, c in zip(tags[273], tags[279]))
    return np.frombuffer(pixels, dtype="<f4").reshape(height, width)


def line_integrals(proj, flat, dark):
    """-log of the transmission in double precision with the program's rule for
    non-positive differences, rounded to float32 at the end only."""
    a = flat - dark
    b = proj.astype(np.float64) - dark
    a = np.where(a > 0, a, 1.0)
    b = np.where(b > 0, b, 1.0)
    return np.log(a / b)


class TestAgainstTheTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.data = os.path.join(cls.tmp.name, "data")
        subprocess.run(
            [tool("tools/phantom/vexa2-phantom"), "-o", cls.data, "--width", "64",
             "--height", "6", "-n", "90", "--noise"],
            check=True, stdout=subprocess.DEVNULL)

    def tool_slices(self, method):
        out = os.path.join(self.tmp.name, "recon-" + method)
        subprocess.run(
            [tool("tools/recon/vexa2-recon"), self.data, "-o", out, "--cor", "32", "--method",
             method, "--filter", "ramp_padded", "--tiff", "--no-data", "--tag", "t",
             "--threads", "2"],
            check=True, stdout=subprocess.DEVNULL)
        return np.stack([read_float_tiff(os.path.join(out, "t-%05d.tif" % s)) for s in range(6)])

    def test_slices_equal_the_tool_bit_for_bit(self):
        proj, theta, flat, dark = vexa2.read_projections(self.data)
        self.assertEqual(proj.shape, (90, 6, 64))
        self.assertEqual(proj.dtype, np.float32)
        self.assertEqual(flat.shape, (6, 64))
        np.testing.assert_allclose(theta, np.arange(90) * np.pi / 90, rtol=0, atol=1e-12)
        tomo = line_integrals(proj, flat, dark)
        # Gridding works in single precision: float32 line integrals lose nothing.
        for method, given in (("gridding", tomo.astype(np.float32)), ("fbp", tomo)):
            with self.subTest(method=method):
                expected = self.tool_slices(method)
                got = vexa2.recon(given, theta, 32, method=method, filter="ramp_padded")
                self.assertEqual(got.shape, expected.shape)
                self.assertEqual(got.dtype, np.float32)
                self.assertTrue(np.array_equal(got.view(np.uint32), expected.view(np.uint32)),
                                "largest difference %g" % np.abs(got - expected).max())

    def test_normalize_and_find_center(self):
        proj, theta, flat, dark = vexa2.read_projections(self.data)
        norm = vexa2.normalize(proj, flat, dark)
        self.assertEqual(norm.dtype, np.float32)
        self.assertEqual(norm.shape, proj.shape)
        expected = np.exp(-line_integrals(proj, flat, dark))
        np.testing.assert_allclose(norm, expected, rtol=1e-6)
        # A stack of flats is averaged.
        stacked = vexa2.normalize(proj, np.stack([flat - 1, flat + 1]), dark[None])
        np.testing.assert_allclose(stacked, norm, rtol=1e-6)
        # The phantom's axis is at the middle of the line.
        self.assertAlmostEqual(vexa2.find_center(-np.log(norm), theta), 32.0, delta=0.3)
        # The first projection, next to the seam where the mirrored set continues the set,
        # jerked sideways does not move the guess.
        for shift in (3, -3):
            jerked = -np.log(norm)
            jerked[0] = np.roll(jerked[0], shift, axis=1)
            with self.subTest(jerk=shift):
                self.assertAlmostEqual(vexa2.find_center(jerked, theta), 32.0, delta=0.25)

    def test_threads_do_not_change_the_result(self):
        proj, theta, flat, dark = vexa2.read_projections(self.data)
        tomo = line_integrals(proj, flat, dark).astype(np.float32)
        one = vexa2.recon(tomo, theta, 31.6, threads=np.int64(1), ring_removal=2)
        three = vexa2.recon(tomo, theta, 31.6, threads=3, ring_removal=2)
        self.assertTrue(np.array_equal(one, three))


# Disks of a slice: (X0, Z0) from the axis in pixels, radius, attenuation per pixel.
DISKS = [(0.0, 0.0, 40.0, 0.010), (14.0, -9.0, 9.0, 0.012), (-18.0, 12.0, 6.0, 0.020)]


def project(disks, theta, columns, center):
    """Line integrals of the disks, one sinogram (projections, columns), with the documented
    geometry: a point at (X, Z) from the axis lies on column center + X cos(theta) -
    Z sin(theta). Each column holds the exact mean chord over its pixel: the integral of
    2 sqrt(R^2 - u^2) is u sqrt(R^2 - u^2) + R^2 asin(u / R)."""
    s = np.arange(columns)[None, :] - center
    sino = np.zeros((len(theta), columns))
    for x0, z0, r, mu in disks:
        s0 = (x0 * np.cos(theta) - z0 * np.sin(theta))[:, None]

        def area(u):
            u = np.clip(u, -r, r)
            return u * np.sqrt(r * r - u * u) + r * r * np.arcsin(u / r)

        sino += mu * (area(s - s0 + 0.5) - area(s - s0 - 0.5))
    return sino


def raster(disks, n):
    """The slice of the disks on the N x N grid, with the distance of each pixel to the
    nearest rim."""
    z, x = np.mgrid[0:n, 0:n]
    X, Z = x - n // 2, z - n // 2
    img = np.zeros((n, n))
    rim = np.full((n, n), np.inf)
    for x0, z0, r, mu in disks:
        d = np.hypot(X - x0, Z - z0)
        img += np.where(d < r, mu, 0.0)
        rim = np.minimum(rim, np.abs(d - r))
    return img, rim, np.hypot(X, Z) < n // 2 - 3


class TestRoundTrip(unittest.TestCase):
    def assertAccurate(self, slice_, disks):
        """The documented accuracy with the padded filters: off the rims (more than 3 pixels)
        every pixel within 1.5 %, and the RMS within 0.25 %, of the slice's largest value,
        on the scale of 2 mu."""
        truth, rim, inside = raster(disks, slice_.shape[0])
        err = (slice_ / 2 - truth)[inside & (rim > 3)]
        top = truth.max()
        self.assertLess(np.abs(err).max(), 0.015 * top)
        self.assertLess(np.sqrt(np.mean(err**2)), 0.0025 * top)

    def test_phantom_round_trips(self):
        columns, center, count = 128, 63.6, 360
        theta = np.linspace(0, np.pi, count, endpoint=False)
        rows = [DISKS, [(x, z, r, 2 * mu) for x, z, r, mu in DISKS]]
        tomo = np.stack([project(d, theta, columns, center) for d in rows], axis=1)
        tomo = tomo.astype(np.float32)
        n = 2 * int(np.floor(min(center, columns - 1 - center))) - 2
        for method in ("gridding", "fbp"):
            for filt in ("ramp_padded", "hann"):
                with self.subTest(method=method, filter=filt):
                    rec = vexa2.recon(tomo, theta, center, method=method, filter=filt)
                    self.assertEqual(rec.shape, (2, n, n))
                    self.assertEqual(rec.dtype, np.float32)
                    for k, disks in enumerate(rows):
                        self.assertAccurate(rec[k], disks)
                    # Outside the inscribed circle nothing is computed.
                    z, x = np.mgrid[0:n, 0:n] - n // 2
                    self.assertTrue(np.all(rec[:, np.hypot(x, z) > n // 2 + 1] == 0))

    def test_uneven_angles_are_weighted(self):
        # 270 angles over the first 90 degrees, 90 over the rest: each angle at its own place
        # and weight keeps the accuracy of an even set.
        columns, center, disks = 128, 63.6, DISKS
        theta = np.concatenate([np.linspace(0, np.pi / 2, 270, endpoint=False),
                                np.linspace(np.pi / 2, np.pi, 90, endpoint=False)])
        tomo = project(disks, theta, columns, center)[:, None, :].astype(np.float32)
        for method in ("gridding", "fbp"):
            with self.subTest(method=method):
                got = vexa2.recon(tomo, theta, center, method=method)
                self.assertAccurate(got[0], disks)
                # The same angles in another order give the same slice.
                order = np.random.default_rng(1).permutation(len(theta))
                shuffled = vexa2.recon(tomo[order], theta[order], center, method=method)
                np.testing.assert_allclose(shuffled, got, rtol=0, atol=1e-5 * got.max())


class TestBadInput(unittest.TestCase):
    def setUp(self):
        self.tomo = np.zeros((8, 2, 16), np.float32)
        self.theta = np.arange(8) * np.pi / 8

    def test_raises_naming_the_argument(self):
        t, th = self.tomo, self.theta
        cases = [
            ("tomo", lambda: vexa2.recon(t[0], th, 8)),
            ("tomo", lambda: vexa2.recon(t.astype(np.int16), th, 8)),
            ("tomo", lambda: vexa2.recon([[1, 2]], th, 8)),
            ("theta", lambda: vexa2.recon(t, th[:7], 8)),
            ("theta", lambda: vexa2.recon(t, th.reshape(2, 4), 8)),
            ("theta", lambda: vexa2.recon(t, np.full(8, np.nan), 8)),
            ("center", lambda: vexa2.recon(t, th, 15.5)),
            ("center", lambda: vexa2.recon(t, th, 0.5)),
            ("center", lambda: vexa2.recon(t, th, np.array([8.0, 8.0]))),
            ("method", lambda: vexa2.recon(t, th, 8, method="sirt")),
            ("filter", lambda: vexa2.recon(t, th, 8, filter="box")),
            ("ring_removal", lambda: vexa2.recon(t, th, 8, ring_removal=21)),
            ("threads", lambda: vexa2.recon(t, th, 8, threads=0)),
            ("threads", lambda: vexa2.recon(t, th, 8, threads=2.5)),
            ("flat", lambda: vexa2.normalize(t, np.ones((3, 16)), np.zeros((2, 16)))),
            ("dark", lambda: vexa2.normalize(t, np.ones((2, 16)), "none")),
            ("proj", lambda: vexa2.normalize(t[0], np.ones((2, 16)), np.zeros((2, 16)))),
            ("row", lambda: vexa2.find_center(t, th, row=2)),
            ("path", lambda: vexa2.read_projections("/nonexistent/scan")),
        ]
        for name, call in cases:
            with self.subTest(argument=name):
                with self.assertRaisesRegex(ValueError, "^" + name):
                    call()


if __name__ == "__main__":
    unittest.main()
