"""facelume: face-beautification frames through the facelume service, from Python.

    import facelume
    with facelume.Service() as fx:
        fx.smooth = 0.7
        out = fx.process(frame)          # frame: numpy uint8 array, height x width x 3, BGR

A thin ctypes binding over the client SDK's C API (libfacelume_client). The library and the
`facelume` executable are looked for in $FACELUME_HOME, then in the build's output folder (the
folder this package was copied into by the build, or build/bin of the source tree), then where
the system installed them (the loader's library paths and $PATH).
"""

import builtins
import ctypes
import os
import secrets
import shutil
import sys

import numpy as np

__version__ = "0.1.0"
__all__ = ["Service", "FacelumeError", "TimeoutError", "find_home", "__version__"]

_LIBRARY = {"win32": "facelume_client.dll", "darwin": "libfacelume_client.dylib"}.get(
    sys.platform, "libfacelume_client.so")
# The name an installed library is found by through the loader's own search.
_INSTALLED_LIBRARY = {"win32": "facelume_client.dll", "darwin": "libfacelume_client.0.dylib"}.get(
    sys.platform, "libfacelume_client.so.0")
_EXECUTABLE = "facelume.exe" if sys.platform == "win32" else "facelume"
_STATUS_NAMES = {
    1: "invalid argument", 2: "frame too large", 3: "timeout", 4: "service not found",
    5: "service failed", 6: "channel error", 7: "not connected", 8: "out of memory",
}
_NAME_KINDS = {"filter": 0, "sticker": 1, "colour": 2, "color": 2}


class FacelumeError(RuntimeError):
    """A failed SDK call: `status` is the C API's status code, the text says why."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.status_name = _STATUS_NAMES.get(status, "error")


class TimeoutError(FacelumeError, builtins.TimeoutError):
    """No frame came back within the time-out; also caught as the built-in TimeoutError."""


def _candidate_folders():
    folders = []
    home = os.environ.get("FACELUME_HOME")
    if home:
        folders.append(os.path.abspath(home))
    package = os.path.dirname(os.path.abspath(__file__))
    # The build copies this package to <output folder>/python/facelume.
    folders.append(os.path.dirname(os.path.dirname(package)))
    # Run from the source tree: client/python/facelume -> build/bin.
    source_root = os.path.dirname(os.path.dirname(os.path.dirname(package)))
    folders.append(os.path.join(source_root, "build", "bin"))
    return folders


def _missing(names, folders):
    return FacelumeError(
        4, "cannot find %s; looked in: %s, and among the installed programs. Install or build "
        "facelume, or set FACELUME_HOME to the folder that holds them."
        % (" and ".join(names), ", ".join(folders)))


def _installed_executable():
    return shutil.which(_EXECUTABLE)


def find_home():
    """The first folder holding both the client library and the facelume executable."""
    folders = _candidate_folders()
    for folder in folders:
        if (os.path.isfile(os.path.join(folder, _LIBRARY))
                and os.path.isfile(os.path.join(folder, _EXECUTABLE))):
            return folder
    installed = _installed_executable()
    if installed:
        return os.path.dirname(installed)
    raise _missing([_LIBRARY, _EXECUTABLE], folders)


def _find_library():
    """The library's path in one of the candidate folders, else its installed name."""
    folders = _candidate_folders()
    for folder in folders:
        path = os.path.join(folder, _LIBRARY)
        if os.path.isfile(path):
            return path
    try:
        ctypes.CDLL(_INSTALLED_LIBRARY)
        return _INSTALLED_LIBRARY
    except OSError:
        raise _missing([_LIBRARY], folders) from None


def _find_executable():
    for folder in _candidate_folders():
        path = os.path.join(folder, _EXECUTABLE)
        if os.path.isfile(os.path.join(folder, _LIBRARY)) and os.path.isfile(path):
            return path
    installed = _installed_executable()
    if installed:
        return installed
    raise _missing([_EXECUTABLE], _candidate_folders())


_library = None


def _load(path):
    global _library
    if _library is not None:
        return _library
    lib = ctypes.CDLL(path)
    handle = ctypes.c_void_p
    status = ctypes.c_int
    text = ctypes.c_char_p
    size = ctypes.c_int
    pixels_out = ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))
    signatures = {
        "facelume_client_new": (handle, []),
        "facelume_client_free": (None, [handle]),
        "facelume_start": (status, [handle, text, text, text, size, size]),
        "facelume_connect": (status, [handle, text, text, size, size]),
        "facelume_close": (None, [handle]),
        "facelume_capacity": (ctypes.c_size_t, [handle]),
        "facelume_send_frame": (status, [handle, size, size, ctypes.c_void_p, ctypes.c_size_t]),
        "facelume_receive_frame": (status, [handle, size, ctypes.POINTER(size),
                                            ctypes.POINTER(size), pixels_out]),
        "facelume_process": (status, [handle, size, size, ctypes.c_void_p, ctypes.c_size_t, size,
                                      ctypes.POINTER(size), ctypes.POINTER(size), pixels_out]),
        "facelume_set_skin_white": (status, [handle, ctypes.c_float]),
        "facelume_set_skin_smooth": (status, [handle, ctypes.c_float]),
        "facelume_set_eye_scale": (status, [handle, ctypes.c_float]),
        "facelume_set_face_thin": (status, [handle, ctypes.c_float]),
        "facelume_set_filter": (status, [handle, text, ctypes.c_float]),
        "facelume_set_sticker": (status, [handle, text]),
        "facelume_set_lipstick": (status, [handle, text, ctypes.c_float]),
        "facelume_set_cheeks": (status, [handle, text, ctypes.c_float]),
        "facelume_set_eyebrow": (status, [handle, text, ctypes.c_float]),
        "facelume_reset": (status, [handle]),
        "facelume_available_names": (text, [handle, ctypes.c_int]),
        "facelume_last_error": (text, [handle]),
        "facelume_service_output": (text, [handle]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    _library = lib
    return lib


def _encode(name):
    return None if name is None else name.encode("utf-8")


_OFF = {"white": 0.0, "smooth": 0.0, "eyes": 0.0, "thin": 0.0, "filter": None, "sticker": None,
        "lipstick": None, "cheeks": None, "eyebrow": None}


class Service:
    """A facelume service: started as a child process (the default) or joined (connect=True).

    receive_name/send_name are the service's channel names (unique ones are made when omitted);
    size is the channel size in bytes, or give frame_size=(width, height) of the largest frame.
    Joining a running service resets every control first; while another client is connected to
    the channel, joining raises FacelumeError. Controls read back as set here
    (`fx.smooth`, `fx.controls`); names the service does not offer raise FacelumeError listing
    the ones it does (`available("filter")`).
    """

    def __init__(self, receive_name=None, send_name=None, size=None, frame_size=None,
                 executable=None, connect=False, timeout=20.0):
        self._handle = None
        self._controls = dict(_OFF)
        if executable is None and not connect:
            executable = _find_executable()
        self._lib = _load(_find_library())
        if size is None:
            size = 12 + frame_size[0] * frame_size[1] * 3 if frame_size else 921700
        if receive_name is None or send_name is None:
            if connect:
                receive_name, send_name = "n2", "n1"
            else:
                # Random, so that another user cannot create the names before us.
                base = "py" + secrets.token_hex(8)
                receive_name, send_name = base + "in", base + "out"
        self._handle = self._lib.facelume_client_new()
        if not self._handle:
            raise FacelumeError(8, "out of memory")
        timeout_ms = int(timeout * 1000)
        if connect:
            status = self._lib.facelume_connect(self._handle, _encode(receive_name),
                                                _encode(send_name), size, timeout_ms)
        else:
            status = self._lib.facelume_start(self._handle, _encode(executable),
                                              _encode(receive_name), _encode(send_name), size,
                                              timeout_ms)
        if status != 0:
            error = self._error(status)
            self.close()
            raise error
        self._width = ctypes.c_int()
        self._height = ctypes.c_int()
        self._pixels = ctypes.POINTER(ctypes.c_ubyte)()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        self.close()

    def close(self):
        """Leaves the channel and ends the service if this object started it."""
        handle = getattr(self, "_handle", None)
        if handle:
            self._lib.facelume_client_free(handle)
            self._handle = None

    @property
    def capacity(self):
        """Bytes of channel a frame may use: 12 + width * height * 3."""
        return self._lib.facelume_capacity(self._live())

    @property
    def service_output(self):
        return self._lib.facelume_service_output(self._live()).decode("utf-8", "replace")

    def process(self, frame, timeout=5.0):
        """Sends one BGR frame (height x width x 3, uint8) and returns the processed one."""
        width, height, data, stride = self._frame(frame)
        self._check(self._lib.facelume_process(
            self._live(), width, height, data, stride, int(timeout * 1000),
            ctypes.byref(self._width), ctypes.byref(self._height), ctypes.byref(self._pixels)))
        return self._result()

    def send(self, frame):
        width, height, data, stride = self._frame(frame)
        self._check(self._lib.facelume_send_frame(self._live(), width, height, data, stride))

    def receive(self, timeout=5.0):
        self._check(self._lib.facelume_receive_frame(
            self._live(), int(timeout * 1000), ctypes.byref(self._width),
            ctypes.byref(self._height), ctypes.byref(self._pixels)))
        return self._result()

    # Controls: values as the engine takes them (1.0 = full); None or "" turns an effect off.
    def set_skin_white(self, value):
        self._set("white", value, self._lib.facelume_set_skin_white, value)

    def set_skin_smooth(self, value):
        self._set("smooth", value, self._lib.facelume_set_skin_smooth, value)

    def set_eye_scale(self, value):
        self._set("eyes", value, self._lib.facelume_set_eye_scale, value)

    def set_face_thin(self, value):
        self._set("thin", value, self._lib.facelume_set_face_thin, value)

    def set_filter(self, name, strength=1.0):
        self._set_named("filter", name, strength, self._lib.facelume_set_filter)

    def set_sticker(self, name):
        self._set("sticker", name or None, self._lib.facelume_set_sticker, _encode(name))

    def set_lipstick(self, name, strength=1.0):
        self._set_named("lipstick", name, strength, self._lib.facelume_set_lipstick)

    def set_cheeks(self, name, strength=1.0):
        self._set_named("cheeks", name, strength, self._lib.facelume_set_cheeks)

    def set_eyebrow(self, name, strength=1.0):
        self._set_named("eyebrow", name, strength, self._lib.facelume_set_eyebrow)

    def reset(self):
        """Turns every effect off."""
        self._check(self._lib.facelume_reset(self._live()))
        self._controls = dict(_OFF)

    def available(self, kind):
        """The names the service offers for "filter", "sticker" or "colour", sorted."""
        if kind not in _NAME_KINDS:
            raise ValueError("kind is one of %s, not %r" % (", ".join(_NAME_KINDS), kind))
        names = self._lib.facelume_available_names(self._live(), _NAME_KINDS[kind])
        return [name for name in names.decode("utf-8").split(", ") if name]

    @property
    def controls(self):
        """Every control as last set: numbers, (name, strength) pairs, None when off."""
        return dict(self._controls)

    white = property(lambda self: self._controls["white"], set_skin_white,
                     doc="skin whitening, 0..1")
    smooth = property(lambda self: self._controls["smooth"], set_skin_smooth,
                      doc="skin smoothing, 0..1")
    eyes = property(lambda self: self._controls["eyes"], set_eye_scale, doc="eye enlargement")
    thin = property(lambda self: self._controls["thin"], set_face_thin, doc="face thinning")
    filter = property(lambda self: self._controls["filter"], doc="(name, strength) or None")
    sticker = property(lambda self: self._controls["sticker"], set_sticker,
                       doc="sticker name or None")

    def _set(self, control, value, function, argument):
        self._check(function(self._live(), argument))
        self._controls[control] = value

    def _set_named(self, control, name, strength, function):
        self._check(function(self._live(), _encode(name), strength))
        self._controls[control] = (name, strength) if name else None

    def _live(self):
        if not self._handle:
            raise FacelumeError(7, "the service is closed")
        return self._handle

    def _frame(self, frame):
        frame = np.asarray(frame)
        if frame.dtype != np.uint8 or frame.ndim != 3 or frame.shape[2] != 3:
            raise ValueError("a frame is a uint8 array of height x width x 3 (BGR), got %s %s"
                             % (frame.dtype, frame.shape))
        # Rows may be strided, pixels and channels must be packed.
        if frame.strides[1] != 3 or frame.strides[2] != 1 or frame.strides[0] < 0:
            frame = np.ascontiguousarray(frame)
        self._keep = frame
        return frame.shape[1], frame.shape[0], frame.ctypes.data, frame.strides[0]

    def _result(self):
        count = self._width.value * self._height.value * 3
        pixels = np.ctypeslib.as_array(self._pixels, shape=(count,))
        return pixels.reshape(self._height.value, self._width.value, 3).copy()

    def _error(self, status):
        message = (self._lib.facelume_last_error(self._handle) or b"").decode("utf-8", "replace")
        kind = TimeoutError if status == 3 else FacelumeError
        return kind(status, message or _STATUS_NAMES.get(status, "error"))

    def _check(self, status):
        if status != 0:
            raise self._error(status)
