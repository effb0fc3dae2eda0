# What only the Python binding can break (ctypes signatures, numpy buffers, errors as exceptions,
# finding the library), against the service built with the recording engine, which inverts every
# pixel byte and logs every engine call to $FACELUME_RECORDING_LOG. CTest sets FACELUME_HOME (the
# client library's folder), FACELUME_TEST_SERVICE (the recording service) and PYTHONPATH.

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import numpy as np

import facelume

SERVICE = os.environ["FACELUME_TEST_SERVICE"]


class ServiceTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="facelume-python-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.log = os.path.join(self.folder, "engine.log")
        os.environ["FACELUME_RECORDING_LOG"] = self.log
        for name in ["FACELUME_RECORDING_LOG", "FACELUME_RECORDING_PROCESS_RESULT"]:
            self.addCleanup(os.environ.pop, name, None)

    def logged(self, line):
        for _ in range(500):
            if os.path.exists(self.log) and line in Path(self.log).read_text("utf-8").splitlines():
                return True
            time.sleep(0.01)
        return False

    def test_numpy_frames_round_trip_and_close_leaves_nothing(self):
        # Native names keep only letters: the build folder's digits, spelled in letters as in
        # tests/support/test_names.h, keep builds apart.
        run = "py" + "".join(chr(ord("a") + int(d)) for d in os.environ["FACELUME_TEST_BUILD_DIGITS"])
        rng = np.random.default_rng(7)
        frame = rng.integers(0, 256, size=(48, 64, 3), dtype=np.uint8)
        wide = rng.integers(0, 256, size=(48, 100, 3), dtype=np.uint8)
        with facelume.Service(run + "in", run + "out", executable=SERVICE, frame_size=(64, 48)) as fx:
            self.assertEqual(fx.capacity, 12 + 64 * 48 * 3)
            with self.assertRaises(facelume.FacelumeError) as too_large:
                fx.process(np.zeros((49, 64, 3), np.uint8))
            self.assertEqual(too_large.exception.status_name, "frame too large")
            out = fx.process(frame)
            # A view into a wider picture travels with its row stride; channels in another order
            # in memory are packed first. Each result is the caller's own, not the SDK's buffer.
            view = fx.process(wide[:, 10:74])
            planar = fx.process(np.asfortranarray(frame))
            for result, expected in [(out, 255 - frame), (view, 255 - wide[:, 10:74]), (planar, 255 - frame)]:
                np.testing.assert_array_equal(result, expected)
            fx.send(frame[:8, :8])
            np.testing.assert_array_equal(fx.receive(), 255 - frame[:8, :8])
            with self.assertRaises(ValueError):
                fx.process(np.zeros((4, 4), np.uint8))
            self.assertIn("initSuccess", fx.service_output)
        with self.assertRaises(facelume.FacelumeError):
            fx.process(frame)
        # Sockets live in the private socket folder: $XDG_RUNTIME_DIR, else TMPDIR/facelume-<uid>.
        folders = ["/dev/shm", os.path.join(tempfile.gettempdir(), "facelume-%d" % os.geteuid()),
                   os.environ.get("XDG_RUNTIME_DIR", "")]
        self.assertEqual([name for folder in folders if os.path.isdir(folder)
                          for name in os.listdir(folder) if run in name], [])

    # Each setter with values of its own, through the C entry point and the C++ client beneath
    # it: one routed to another control, or a value cut instead of rounded, logs another line.
    # Failures are exceptions with reasons; the engine here processes no frame.
    def test_each_control_reaches_its_engine_call_and_failures_are_exceptions(self):
        with self.assertRaises(facelume.FacelumeError) as missing:
            facelume.Service(executable="/nonexistent/facelume")
        self.assertEqual(missing.exception.status_name, "service not found")
        self.assertIn("/nonexistent/facelume", str(missing.exception))
        os.environ["FACELUME_RECORDING_PROCESS_RESULT"] = "0"
        with facelume.Service(executable=SERVICE) as fx:
            fx.white, fx.smooth, fx.eyes, fx.thin, fx.sticker = 0.11, 0.12, -0.13, 0.14, "glasses"
            fx.set_filter("cool", 0.15)
            fx.set_lipstick("red", 0.16)
            fx.set_cheeks("peach", 0.17)
            fx.set_eyebrow("dark", 0.18)
            for line in ["modify_skin_white 0.11", "modify_skin_smooth 0.12",
                         "modify_shape_eye_scale -0.13", "modify_shape_face_thin 0.14",
                         'modify_sticker "glasses"', 'modify_filter "cool" 0.15',
                         'modify_makeup_lipstick "red" 0.16', 'modify_makeup_cheeks "peach" 0.17',
                         'modify_makeup_eyebrow "dark" 0.18']:
                self.assertTrue(self.logged(line), line)
            self.assertEqual([fx.white, fx.smooth, fx.eyes, fx.thin, fx.filter, fx.sticker],
                             [0.11, 0.12, -0.13, 0.14, ("cool", 0.15), "glasses"])
            self.assertEqual(fx.controls["cheeks"], ("peach", 0.17))
            self.assertEqual(fx.available("filter"), ["cool", "warm"])
            with self.assertRaises(facelume.FacelumeError) as unknown:
                fx.set_filter("sparkle")
            self.assertEqual(unknown.exception.status_name, "invalid argument")
            fx.reset()
            self.assertEqual((fx.smooth, fx.controls["lipstick"]), (0.0, None))
            self.assertTrue(self.logged("modify_makeup_lipstick null 0"))
            # The built-in TimeoutError catches it too.
            with self.assertRaises(TimeoutError) as timeout:
                fx.process(np.zeros((4, 4, 3), np.uint8), timeout=0.3)
            self.assertIsInstance(timeout.exception, facelume.FacelumeError)

    def test_lookup_names_the_folders_it_looked_in_or_takes_the_installed_ones(self):
        # A copy of the package outside any build, with FACELUME_HOME pointing at a folder
        # without the library.
        home = self.folder
        package = os.path.join(home, "site", "pkg")
        shutil.copytree(os.path.dirname(facelume.__file__), os.path.join(package, "facelume"))
        environment = dict(os.environ, FACELUME_HOME=home, PYTHONPATH=package)
        run = subprocess.run([sys.executable, "-c", "import facelume; facelume.Service()"],
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


if __name__ == "__main__":
    unittest.main()
