"""The stream reader on the sample volume, checked against rawpipe-summary's figures.

Environment: RAWPIPE and RAWPIPE_SUMMARY (programs), SAMPLE_VOLUME (RAW file), SCHEMA_DIR (.proto
folder), READ_STREAM (the reader script).
"""

import importlib.util
import math
import os
import re
import subprocess
import sys
import tempfile
import unittest
from types import SimpleNamespace

import numpy as np

READER = os.environ["READ_STREAM"]
SCHEMA = os.environ["SCHEMA_DIR"]
NUMBER = re.compile(r"^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$")

reader_module = importlib.util.spec_from_file_location("read_stream", READER)
read_stream = importlib.util.module_from_spec(reader_module)
reader_module.loader.exec_module(read_stream)


def setUpModule():
    global WORK, STREAM, VOLUME, SUMMARY
    WORK = tempfile.TemporaryDirectory()
    STREAM = os.path.join(WORK.name, "sample.pb")
    subprocess.run([os.environ["RAWPIPE"], "-i", os.environ["SAMPLE_VOLUME"], "-o", STREAM],
                   check=True)
    with open(STREAM, "rb") as f:
        VOLUME = read_stream.read_volume(f.read(), read_stream.schema_module(SCHEMA))
    SUMMARY = subprocess.run([os.environ["RAWPIPE_SUMMARY"], STREAM], check=True,
                                capture_output=True, text=True).stdout


def tearDownModule():
    WORK.cleanup()


def matches(figure, token):
    """Whether a printed number stands for figure, to the precision it was printed with."""
    value = float(token)
    decimals = len(token.split(".")[1]) if "." in token and "e" not in token.lower() else 0
    return abs(value - figure) <= max(0.5 * 10 ** -decimals, 1e-6 * abs(figure)) * 1.0001


class AgainstSummary(unittest.TestCase):
    def test_every_sweep_and_moment_has_the_summary_figures(self):
        labels = {name for sweep in VOLUME.sweeps for name in sweep.moments}
        rows = [line.split() for line in SUMMARY.splitlines()]
        rows = [r for r in rows if labels & set(r) and sum(bool(NUMBER.match(t)) for t in r) >= 6]
        pairs = [(s, m) for s in VOLUME.sweeps for m in s.moments.values()]
        self.assertEqual(len(rows), len(pairs), SUMMARY)
        self.assertEqual(len(VOLUME.sweeps), 4)
        for row, (sweep, moment) in zip(rows, pairs):
            self.assertIn(moment.name, row)
            numbers = [t for t in row if NUMBER.match(t)]
            valid = moment.values[~np.isnan(moment.values)]
            self.assertGreater(valid.size, 0)
            figures = {"fixed angle": sweep.fixed_angle, "rays": moment.values.shape[0],
                       "bins": moment.values.shape[1], "minimum": valid.min(),
                       "maximum": valid.max(), "mean": valid.mean()}
            for what, figure in figures.items():
                self.assertTrue(any(matches(figure, t) for t in numbers),
                                "sweep %d %s: %s %r not in %s" % (
                                    sweep.index, moment.name, what, figure, " ".join(row)))

    def test_rays_and_bins_are_laid_out_consistently(self):
        for sweep in VOLUME.sweeps:
            rays = len(sweep.azimuths)
            self.assertEqual(len(sweep.elevations), rays)
            self.assertEqual(len(sweep.times), rays)
            self.assertTrue(np.all((sweep.azimuths >= 0) & (sweep.azimuths < 360)))
            self.assertTrue(all(t >= VOLUME.start_time for t in sweep.times))
            for moment in sweep.moments.values():
                self.assertEqual(moment.values.shape, (rays, len(moment.ranges)))
                self.assertTrue(np.all(np.diff(moment.ranges) > 0))


class Conversion(unittest.TestCase):
    def test_special_and_out_of_range_codes_become_nan(self):
        scale = SimpleNamespace(offset=-32.0, step=0.5, under_threshold=0, not_scanned=1,
                                min_value=2, max_value=255)
        codes = np.array([[0, 1, 2, 100], [255, 256, 3, 0]], dtype=np.uint16)
        values = read_stream._physical(codes, scale)
        expected = np.array([[math.nan, math.nan, -31.0, 18.0], [95.5, math.nan, -30.5, math.nan]])
        np.testing.assert_array_equal(values, expected)


class Program(unittest.TestCase):
    def run_reader(self, *args, stdin=None):
        return subprocess.run([sys.executable, READER, "--schema", SCHEMA, *args], stdin=stdin,
                              check=True, capture_output=True, text=True).stdout

    def test_standard_input_reads_like_a_file_and_the_picture_is_written(self):
        picture = os.path.join(WORK.name, "dbz.png")
        from_file = self.run_reader(STREAM, "--png", picture, "--sweep", "1")
        with open(STREAM, "rb") as f:
            from_stdin = self.run_reader("-", stdin=f)
        self.assertEqual(from_file.splitlines()[:-1], from_stdin.splitlines())
        self.assertIn(picture, from_file.splitlines()[-1])
        with open(picture, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertGreater(os.path.getsize(picture), 10000)

    def test_velocity_is_drawn_on_a_diverging_map_centred_on_zero(self):
        velocity = VOLUME.sweeps[0].moments["V"]
        self.assertEqual(velocity.quantity, "RADIAL_VELOCITY")
        cmap, low, high = read_stream.colour_scale(velocity)
        self.assertEqual(cmap, "RdBu_r")
        self.assertEqual(low, -high)
        self.assertEqual(high, np.nanmax(np.abs(velocity.values)))
        self.assertEqual(read_stream.colour_scale(VOLUME.sweeps[0].moments["Z"]),
                         ("viridis", None, None))
        picture = os.path.join(WORK.name, "v.png")
        self.run_reader(STREAM, "--png", picture, "--moment", "V")
        self.assertGreater(os.path.getsize(picture), 10000)

    def test_a_missing_dependency_is_one_line_naming_its_debian_package(self):
        shims = os.path.join(WORK.name, "shims")
        os.makedirs(os.path.join(shims, "lz4"), exist_ok=True)
        with open(os.path.join(shims, "lz4", "__init__.py"), "w") as f:
            f.write("raise ModuleNotFoundError('No module named lz4', name='lz4')\n")
        for environment, package in (({"PATH": "/nonexistent"}, "protobuf-compiler"),
                                     ({"PYTHONPATH": shims}, "python3-lz4")):
            result = subprocess.run([sys.executable, READER, "--schema", SCHEMA, STREAM],
                                    capture_output=True, text=True,
                                    env={**os.environ, **environment})
            self.assertNotEqual(result.returncode, 0)
            self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
            self.assertIn("Debian package " + package, result.stderr)

    def test_a_missing_sweep_is_refused(self):
        result = subprocess.run([sys.executable, READER, "--schema", SCHEMA, STREAM, "--png",
                                 os.path.join(WORK.name, "none.png"), "--sweep", "9"],
                                capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("no sweep 9", result.stderr)


if __name__ == "__main__":
    unittest.main()
