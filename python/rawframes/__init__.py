"""Exact colour conversions and SNR of raw video frames, on numpy arrays.

Frames are arrays shaped as the files lay them out: (frames, 3, height,
width) for the planar formats (uint16 for yuv10 and rgb10, uint8 for rgb8),
(frames, frame bytes) of uint8 for yuv420; a single frame may leave out the
first axis. The results are the programs' bytes. The work runs without the
GIL, on `threads` threads (0: one per processor).
"""
import functools
import json
import os
import warnings

import numpy as np

from . import _rawframes
from ._rawframes import __version__, isa

__all__ = ["__version__", "bd_quality", "bd_rate", "ciede2000", "dovrak", "frame_snr", "isa", "ms_ssim", "read",
           "rgb10_to_yuv10", "ssim", "yuv10_to_rgb10", "yuv420_to_rgb", "FORMATS"]

# Sample type and whether the format is 4:2:0, by name.
FORMATS = {"yuv10": (np.uint16, False), "rgb10": (np.uint16, False),
           "rgb8": (np.uint8, False), "yuv420": (np.uint8, True)}

_Y4M_MAGIC = b"YUV4MPEG2 "
_Y4M_MAX_LINE = 4096


def _frame_shape(format, width, height):
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}: expected one of {', '.join(FORMATS)}")
    if width <= 0 or height <= 0:
        raise ValueError("width and height must be positive")
    dtype, subsampled = FORMATS[format]
    if subsampled:
        chroma = ((width + 1) // 2) * ((height + 1) // 2)
        return np.dtype(dtype).newbyteorder("<"), (width * height + 2 * chroma,)
    return np.dtype(dtype).newbyteorder("<"), (3, height, width)


def _warn_trailing(path, trailing, count, frame):
    if trailing:
        warnings.warn(f"{path}: {trailing} trailing bytes ignored after {count} whole frames "
                      f"of {frame} bytes", stacklevel=3)


def _read_y4m(path, format, width, height, size, head):
    end = head.find(b"\n")
    if end < 0:
        raise ValueError(f"{path}: the YUV4MPEG2 header is cut short or too long")
    w, h, *y4m_plane = _rawframes.y4m_layout(head[len(_Y4M_MAGIC):end].decode("latin-1"),
                                              format, width, height)
    dtype, shape = _frame_shape(format, w, h)
    frame = int(np.prod(shape)) * dtype.itemsize
    mapped = np.memmap(path, dtype=np.uint8, mode="r")
    start = end + 1
    line = bytes(mapped[start:start + _Y4M_MAX_LINE])
    marker = line.find(b"\n") + 1  # the first frame's FRAME line
    if marker == 0 or not line.startswith(b"FRAME") or size - start < marker + frame:
        _warn_trailing(path, size - start, 0, frame)
        return np.empty((0,) + shape, dtype=dtype)
    record = marker + frame
    count, trailing = divmod(size - start, record)
    # Every frame must stand at the same spacing: a FRAME line of another
    # length moves the frames after it.
    lines = np.ndarray((count, marker), np.uint8, mapped, start, (record, 1))
    wrong = ((lines[:, :5] != np.frombuffer(b"FRAME", np.uint8)).any(axis=1) |
             (lines[:, -1] != 10) | (lines[:, :-1] == 10).any(axis=1))
    if wrong.any():
        raise ValueError(f"{path}: the FRAME line of frame {int(np.argmax(wrong))} differs in "
                         f"length from the first one's, so its frames cannot be mapped")
    _warn_trailing(path, trailing, count, frame)
    if len(shape) == 1:
        return np.ndarray((count,) + shape, dtype, mapped, start + marker, (record, 1))
    planes = np.ndarray((count, 3, h, w), dtype, mapped, start + marker,
                        (record, h * w * dtype.itemsize, w * dtype.itemsize, dtype.itemsize))
    order = [y4m_plane.index(p) for p in range(3)]  # y4m plane of each raw plane
    if order == [0, 1, 2]:
        return planes
    # The planes are put in the raw frames' order, which takes a copy.
    return planes[:, order]


def read(path, format, width=0, height=0):
    """The whole frames of a file as an array: a raw file as a read-only
    memory-mapped array (no copy); a YUV4MPEG2 file of a format that has a y4m
    form (yuv10, yuv420) as a view of its frames past the header and FRAME
    lines, its size taken from the header (width and height, when given, must
    agree), with yuv10's planes copied from y4m's order (Y, Co, Cg) into the
    raw one. Bytes after the last whole frame are left out with a warning, as
    the programs do.

    The array reads the file itself: should the file be cut shorter while the
    array is in use, touching the lost part kills the process (SIGBUS). The
    functions of this module check the file's size before they read a mapped
    array, and raise ValueError if it has been cut."""
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}: expected one of {', '.join(FORMATS)}")
    if width < 0 or height < 0 or (width == 0) != (height == 0):
        raise ValueError("width and height must be given together, both positive")
    if width == 0 and format not in ("yuv10", "yuv420"):
        raise ValueError(f"give width and height for {format}, which has no YUV4MPEG2 form")
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(len(_Y4M_MAGIC) + _Y4M_MAX_LINE + 1)
    if head.startswith(_Y4M_MAGIC):
        if format in ("yuv10", "yuv420"):
            return _read_y4m(path, format, width, height, size, head)
        warnings.warn(f"{path}: it begins like a YUV4MPEG2 stream but is read as raw {format} "
                      "frames", stacklevel=2)
    dtype, shape = _frame_shape(format, width, height)
    frame = int(np.prod(shape)) * dtype.itemsize
    count, trailing = divmod(size, frame)
    _warn_trailing(path, trailing, count, frame)
    if count == 0:
        return np.empty((0,) + shape, dtype=dtype)
    return np.memmap(path, dtype=dtype, mode="r", shape=(count,) + shape)


def _check_mapped(array):
    """Raises ValueError when `array` reads a mapped file that has since been
    cut shorter than the mapping."""
    while isinstance(array, np.ndarray):
        if isinstance(array, np.memmap) and getattr(array, "filename", None):
            need = array.offset + array.nbytes
            try:
                size = os.path.getsize(array.filename)
            except OSError as e:
                raise ValueError(f"{array.filename}: cannot check the mapped file: {e}") from e
            if size < need:
                raise ValueError(f"{array.filename} is now {size} bytes, shorter than the {need} "
                                 "mapped from it: it was cut after read()")
        array = array.base


def _checking_mapped_files(function):
    @functools.wraps(function)
    def call(*args, **kwargs):
        for a in (*args, *kwargs.values()):
            _check_mapped(a)
        return function(*args, **kwargs)
    return call


rgb10_to_yuv10 = _checking_mapped_files(_rawframes.rgb10_to_yuv10)
yuv10_to_rgb10 = _checking_mapped_files(_rawframes.yuv10_to_rgb10)
dovrak = _checking_mapped_files(_rawframes.dovrak)
yuv420_to_rgb = _checking_mapped_files(_rawframes.yuv420_to_rgb)


@_checking_mapped_files
def frame_snr(target, reference, format="yuv10", frame_skip=0, width=0, height=0, threads=0,
              measures=("snr",), label="target", reference_label="reference"):
    """Per-frame squared errors and SNRs of `target` against `reference` (and
    the other `measures`: "ssim", "ms-ssim", "ciede2000"), and their summary:
    the JSON report of frame-snr --measure as a dict (target frame i against
    reference frame i * (frame_skip + 1); yuv420 needs width and height), the
    inputs named `label` and `reference_label` (frame-snr --label)."""
    return json.loads(_rawframes.frame_snr_json(target, reference, format, frame_skip, width,
                                                height, threads, ",".join(measures), label,
                                                reference_label))


def bd_rate(rate_a, quality_a, rate_b, quality_b, interpolation="pchip"):
    """The Bjontegaard delta rate of curve b against anchor a, in percent
    (negative: b needs fewer bits for the same quality), as rd-curve gives it;
    interpolation "pchip", "cubic" or "akima"."""
    return _rawframes.bd(list(map(float, rate_a)), list(map(float, quality_a)),
                         list(map(float, rate_b)), list(map(float, quality_b)), interpolation)[0]


def bd_quality(rate_a, quality_a, rate_b, quality_b, interpolation="pchip"):
    """The Bjontegaard delta quality of curve b against anchor a (positive: b
    gives more quality for the same rate), as rd-curve gives it; NaN when the
    rate ranges do not overlap."""
    return _rawframes.bd(list(map(float, rate_a)), list(map(float, quality_a)),
                         list(map(float, rate_b)), list(map(float, quality_b)), interpolation)[1]


@_checking_mapped_files
def ssim(target, reference, format="yuv10", width=0, height=0, threads=0):
    """The SSIM of each plane of each frame, as frame-snr --measure ssim gives
    it: an array (frames, 3) of float64 in the file's plane order, NaN for a
    plane smaller than 11 either way."""
    return _rawframes.measure_frames(target, reference, format, "ssim", width, height, threads)


@_checking_mapped_files
def ms_ssim(target, reference, format="yuv10", width=0, height=0, threads=0):
    """The MS-SSIM of each plane of each frame (frames, 3), NaN for a plane
    smaller than 176 either way."""
    return _rawframes.measure_frames(target, reference, format, "ms-ssim", width, height, threads)


@_checking_mapped_files
def ciede2000(target, reference, format="rgb10", threads=0):
    """The CIEDE2000 colour difference of each frame (rgb10 or rgb8): an array
    (frames, 2) of its mean and its largest over the pixels."""
    return _rawframes.measure_frames(target, reference, format, "ciede2000", 0, 0, threads)
