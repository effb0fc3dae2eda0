"""The Python binding against the real service built with the recording engine, which inverts
every pixel byte and logs every engine call to $FACELUME_RECORDING_LOG.

Run by CTest with FACELUME_HOME (the client library's folder), FACELUME_TEST_SERVICE (the
recording service) and PYTHONPATH (the binding) set."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import numpy as np

import facelume

SERVICE = os.environ["FACELUME_TEST_SERVICE"]


class EngineLogTestCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="facelume-python-")
        self.log = os.path.join(self.folder, "engine.log")
        os.environ["FACELUME_RECORDING_LOG"] = self.log
        os.environ.pop("FACELUME_RECORDING_PROCESS_RESULT", None)

    def tearDown(self):
        os.environ.pop("FACELUME_RECORDING_LOG", None)
        os.environ.pop("FACELUME_RECORDING_PROCESS_RESULT", None)
        shutil.rmtree(self.folder, ignore_errors=True)

    def wait_for_line(self, line, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.log):
                with open(self.log, encoding="utf-8", errors="replace") as f:
                    if line in f.read().splitlines():
                        return True
            time.sleep(0.01)
        return False


class ServiceTest(EngineLogTestCase):
    def test_frames_round_trip_as_numpy_arrays(self):
        rng = np.random.default_rng(7)
        frame = rng.integers(0, 256, size=(48, 64, 3), dtype=np.uint8)
        with facelume.Service(executable=SERVICE, frame_size=(64, 48)) as fx:
            self.assertEqual(fx.capacity, 12 + 64 * 48 * 3)
            out = fx.process(frame)
            self.assertEqual(out.shape, (48, 64, 3))
            self.assertEqual(out.dtype, np.uint8)
            np.testing.assert_array_equal(out, 255 - frame)

            # A view into a wider picture travels with its row stride.
            wide = rng.integers(0, 256, size=(48, 100, 3), dtype=np.uint8)
            np.testing.assert_array_equal(fx.process(wide[:, 10:74]), 255 - wide[:, 10:74])
            # Channels in another order in memory are packed first.
            planar = np.asfortranarray(frame)
            np.testing.assert_array_equal(fx.process(planar), 255 - frame)

            fx.send(frame[:8, :8])
            np.testing.assert_array_equal(fx.receive(), 255 - frame[:8, :8])

            with self.assertRaises(facelume.FacelumeError) as too_large:
                fx.process(np.zeros((49, 64, 3), np.uint8))
            self.assertEqual(too_large.exception.status_name, "frame too large")
            with self.assertRaises(ValueError):
                fx.process(np.zeros((4, 4), np.uint8))
            self.assertIn("initSuccess", fx.service_output)

    # The full table of controls is checked through the C++ binding: here one of each kind.
    def test_controls_reach_the_engine_are_checked_and_read_back(self):
        with facelume.Service(executable=SERVICE) as fx:
            fx.smooth = 0.5
            fx.set_lipstick("red", 0.6)
            fx.set_sticker("glasses")
            fx.set_cheeks(None)
            for line in ["modify_skin_smooth 0.5", 'modify_makeup_lipstick "red" 0.6',
                         'modify_sticker "glasses"', "modify_makeup_cheeks null 0"]:
                self.assertTrue(self.wait_for_line(line), line)
            self.assertEqual((fx.smooth, fx.controls["lipstick"], fx.filter), (0.5, ("red", 0.6), None))
            self.assertEqual(fx.available("filter"), ["cool", "warm"])
            with self.assertRaises(facelume.FacelumeError) as unknown:
                fx.set_filter("sparkle")
            self.assertEqual(unknown.exception.status_name, "invalid argument")
            self.assertIn(": cool, warm", str(unknown.exception))
            fx.reset()
            self.assertEqual((fx.smooth, fx.controls["lipstick"]), (0.0, None))
            self.assertTrue(self.wait_for_line("modify_makeup_lipstick null 0"))

    def test_no_frame_gives_a_timeout(self):
        os.environ["FACELUME_RECORDING_PROCESS_RESULT"] = "0"
        with facelume.Service(executable=SERVICE) as fx:
            # The built-in TimeoutError catches it too.
            with self.assertRaises(TimeoutError) as timeout:
                fx.process(np.zeros((4, 4, 3), np.uint8), timeout=0.3)
            self.assertIsInstance(timeout.exception, facelume.FacelumeError)

    def test_start_failures_are_errors_with_reasons(self):
        with self.assertRaises(facelume.FacelumeError) as missing:
            facelume.Service(executable="/nonexistent/facelume")
        self.assertEqual(missing.exception.status_name, "service not found")
        self.assertIn("/nonexistent/facelume", str(missing.exception))

    def test_closed_service_refuses_work_and_leaves_nothing(self):
        # Native names keep only letters: the build folder's digits, spelled in letters as in
        # tests/support/test_names.h, keep builds apart.
        digits = os.environ["FACELUME_TEST_BUILD_DIGITS"]
        run = "pyclose" + "".join(chr(ord("a") + int(d)) for d in digits)
        fx = facelume.Service(receive_name=run + "in", send_name=run + "out", executable=SERVICE)
        fx.process(np.zeros((2, 2, 3), np.uint8))
        fx.close()
        with self.assertRaises(facelume.FacelumeError):
            fx.process(np.zeros((2, 2, 3), np.uint8))
        left = [name for folder in ("/dev/shm", tempfile.gettempdir())
                for name in os.listdir(folder) if run in name]
        self.assertEqual(left, [])


class LookupTest(unittest.TestCase):
    def test_names_the_folders_it_looked_in(self):
        # A copy of the package outside any build, with FACELUME_HOME pointing at an empty folder.
        folder = tempfile.mkdtemp(prefix="facelume-lookup-")
        try:
            package = os.path.join(folder, "site", "pkg")
            shutil.copytree(os.path.dirname(facelume.__file__), os.path.join(package, "facelume"))
            home = os.path.join(folder, "empty")
            os.mkdir(home)
            environment = dict(os.environ, FACELUME_HOME=home, PYTHONPATH=package)
            run = subprocess.run(
                [sys.executable, "-c", "import facelume; facelume.Service()"],
                env=environment, capture_output=True, text=True, timeout=60)
            self.assertNotEqual(run.returncode, 0)
            self.assertIn("looked in: " + home, run.stderr)
            self.assertIn("FACELUME_HOME", run.stderr)

            # Installed: the library through the loader's paths, the service through $PATH.
            environment["LD_LIBRARY_PATH"] = os.environ["FACELUME_HOME"]
            environment["PATH"] = os.path.dirname(SERVICE) + os.pathsep + os.environ["PATH"]
            run = subprocess.run(
                [sys.executable, "-c", "import facelume, numpy as np\n"
                 "with facelume.Service() as fx: print(fx.process(np.zeros((2, 2, 3), np.uint8))[0, 0])"],
                env=environment, capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.strip(), "[255 255 255]")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
