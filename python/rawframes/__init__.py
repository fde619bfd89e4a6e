"""Exact colour conversions and SNR of raw video frames, on numpy arrays.

Frames are arrays shaped as the files lay them out: (frames, 3, height,
width) for the planar formats (uint16 for yuv10 and rgb10, uint8 for rgb8),
(frames, frame bytes) of uint8 for yuv420; a single frame may leave out the
first axis. The results are the programs' bytes. The work runs without the
GIL, on `threads` threads (0: one per processor).
"""
import json
import os

import numpy as np

from ._rawframes import (
    __version__,
    dovrak,
    frame_snr_json,
    isa,
    rgb10_to_yuv10,
    yuv10_to_rgb10,
    yuv420_to_rgb,
)

__all__ = ["__version__", "dovrak", "frame_snr", "isa", "read", "rgb10_to_yuv10",
           "yuv10_to_rgb10", "yuv420_to_rgb", "FORMATS"]

# Sample type and whether the format is 4:2:0, by name.
FORMATS = {"yuv10": (np.uint16, False), "rgb10": (np.uint16, False),
           "rgb8": (np.uint8, False), "yuv420": (np.uint8, True)}


def _frame_shape(format, width, height):
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}: expected one of {', '.join(FORMATS)}")
    if width <= 0 or height <= 0:
        raise ValueError("width and height must be positive")
    dtype, subsampled = FORMATS[format]
    if subsampled:
        chroma = ((width + 1) // 2) * ((height + 1) // 2)
        return dtype, (width * height + 2 * chroma,)
    return dtype, (3, height, width)


def read(path, format, width, height):
    """The whole frames of a raw file as a read-only memory-mapped array (no
    copy); bytes after the last whole frame are left out."""
    dtype, shape = _frame_shape(format, width, height)
    frame = int(np.prod(shape)) * np.dtype(dtype).itemsize
    count = os.path.getsize(path) // frame
    if count == 0:
        return np.empty((0,) + shape, dtype=dtype)
    return np.memmap(path, dtype=np.dtype(dtype).newbyteorder("<"), mode="r",
                     shape=(count,) + shape)


def frame_snr(target, reference, format="yuv10", frame_skip=0, width=0, height=0, threads=0):
    """Per-frame squared errors and SNRs of `target` against `reference`, and
    their summary: the JSON report of frame-snr as a dict (target frame i
    against reference frame i * (frame_skip + 1); yuv420 needs width and
    height)."""
    return json.loads(frame_snr_json(target, reference, format, frame_skip, width, height,
                                     threads))
