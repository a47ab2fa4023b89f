"""The forecast picture: nowcast on the sample series, then plot_nowcast.py draws it.

Environment: NOWCAST (program), SAMPLES (folder of the sample series), PLOT_NOWCAST (the script).
"""

import os
import subprocess
import sys
import tempfile
import unittest

PLOT = os.environ["PLOT_NOWCAST"]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class PlotNowcast(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.forecast = os.path.join(cls.work.name, "forecast.h5")
        samples = os.environ["SAMPLES"]
        subprocess.run([os.environ["NOWCAST"], os.path.join(samples, "moving-storms-00.raw"),
                        os.path.join(samples, "moving-storms-01.raw"), "--grid", "128",
                        "--pixel", "1600", "-o", cls.forecast], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def plot(self, *arguments, prelude=""):
        code = prelude + "import runpy, sys; sys.argv = %r; runpy.run_path(%r, run_name='__main__')" % (
            [PLOT] + list(arguments), PLOT)
        return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)

    def test_draws_the_analysis_and_forecasts(self):
        png = os.path.join(self.work.name, "forecast.png")
        done = self.plot(self.forecast, "--png", png, "--frames", "4")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "4 images of DBZH drawn in %s\n" % png)
        with open(png, "rb") as f:
            picture = f.read()
        self.assertTrue(picture.startswith(PNG_SIGNATURE))
        self.assertGreater(len(picture), 10000)

    def test_a_file_that_is_not_a_forecast_is_one_line(self):
        png = os.path.join(self.work.name, "none.png")
        not_hdf5 = os.path.join(self.work.name, "text.h5")
        with open(not_hdf5, "w") as f:
            f.write("not HDF5")
        done = self.plot(not_hdf5, "--png", png)
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith("plot_nowcast.py: " + not_hdf5 + ": "))
        self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
        self.assertFalse(os.path.exists(png))

    def test_a_missing_module_names_its_debian_package(self):
        for module, package in (("h5py", "python3-h5py"), ("matplotlib", "python3-matplotlib")):
            done = self.plot(self.forecast, "--png", os.path.join(self.work.name, "x.png"),
                             prelude="import sys; sys.modules[%r] = None; " % module)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr, "plot_nowcast.py: the Python module %s is missing "
                             "(Debian package %s)\n" % (module, package))


if __name__ == "__main__":
    unittest.main()
