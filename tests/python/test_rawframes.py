"""The Python module against the programs' bytes (RAWFRAMES_BUILD: the build
directory whose programs and module are tested)."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import rawframes

BUILD = os.environ["RAWFRAMES_BUILD"]
W, H, N = 7, 5, 3  # odd sizes: partial chroma blocks


def program(name, *args):
    path = os.path.join(BUILD, name.replace("-", "_"), name)
    return subprocess.run([path, *map(str, args)], check=True, capture_output=True).stdout


@pytest.fixture
def clip(tmp_path):
    rng = np.random.default_rng(5)
    rgb = rng.integers(0, 1024, size=(N, 3, H, W), dtype=np.uint16)
    path = tmp_path / "clip.rgb10"
    rgb.astype("<u2").tofile(path)
    return rgb, path


@pytest.mark.parametrize("threads", [1, 3])
def test_conversions_are_the_programs_bytes(clip, tmp_path, threads):
    rgb, path = clip
    out = tmp_path / "out"
    yuv10 = rawframes.rgb10_to_yuv10(rgb, threads=threads)
    program("rgb10-to-yuv10", path, out, W, H, -1)
    assert yuv10.astype("<u2").tobytes() == out.read_bytes()
    back = rawframes.yuv10_to_rgb10(yuv10, threads=threads)
    assert np.array_equal(back, rgb)
    yuv420 = rawframes.dovrak(rgb, threads=threads)
    program("dovrak", path, out, W, H)
    assert yuv420.tobytes() == out.read_bytes()
    (tmp_path / "clip.yuv").write_bytes(yuv420.tobytes())
    program("yuv420-to-rgb", tmp_path / "clip.yuv", out, W, H)
    assert rawframes.yuv420_to_rgb(yuv420, W, H, threads=threads).tobytes() == out.read_bytes()
    # One frame without the frames axis.
    assert np.array_equal(rawframes.rgb10_to_yuv10(rgb[1]), yuv10[1])


@pytest.mark.parametrize("format,skip,measures", [
    ("yuv10", 1, ("snr",)), ("rgb10", 0, ("snr", "ssim", "ms-ssim", "ciede2000")),
    ("rgb8", 0, ("ciede2000",)), ("yuv420", 0, ("ssim",))])
def test_frame_snr_is_the_json_report(tmp_path, format, skip, measures):
    rng = np.random.default_rng(6)
    dtype, subsampled = rawframes.FORMATS[format]
    top = 1023 if dtype == np.uint16 else 255
    shape = (2 * N,) + ((W * H + 2 * ((W + 1) // 2) * ((H + 1) // 2),) if subsampled else (3, H, W))
    reference = rng.integers(0, top + 1, size=shape, dtype=dtype)
    target = reference[:: skip + 1].copy()
    target[0] ^= 3  # frame 1 stays identical
    target[2].flat[0] ^= 1
    for name, frames in (("t", target), ("r", reference)):
        frames.astype(np.dtype(dtype).newbyteorder("<")).tofile(tmp_path / name)
    report = json.loads(program("frame-snr", tmp_path / "t", tmp_path / "r", skip, H, W,
                                "--format", format, "--json", "-", "--measure", ",".join(measures)))
    got = rawframes.frame_snr(target, reference, format, frame_skip=skip, width=W, height=H,
                              threads=2, measures=measures)
    for key in ("target", "reference"):
        del report[key], got[key]
    assert got == report


def test_read_maps_the_file_without_a_copy(clip, tmp_path):
    rgb, path = clip
    with open(path, "ab") as f:
        f.write(b"trailing")
    with pytest.warns(UserWarning, match="8 trailing bytes ignored after 3 whole frames"):
        frames = rawframes.read(str(path), "rgb10", W, H)
    assert isinstance(frames, np.memmap) and frames.shape == (N, 3, H, W)
    assert not frames.flags.writeable
    assert np.array_equal(frames, rgb)
    assert np.array_equal(rawframes.rgb10_to_yuv10(frames), rawframes.rgb10_to_yuv10(rgb))
    # YUV4MPEG2: the frames past the header and FRAME lines, in the raw
    # layout; FRAME lines of another length are refused.
    for name, format, options in (("rgb10-to-yuv10", "yuv10", (-1, "--y4m")),
                                  ("dovrak", "yuv420", ("--y4m",))):
        raw, y4m = tmp_path / "raw", tmp_path / "y4m"
        program(name, path, raw, W, H, *options[:-1])
        program(name, path, y4m, W, H, *options)
        want = rawframes.read(str(raw), format, W, H)
        got = rawframes.read(str(y4m), format)
        assert np.array_equal(got, want) and got.shape == want.shape
        text = y4m.read_bytes()
        y4m.write_bytes(text.replace(b"FRAME\n", b"FRAME Ixx\n", 2).replace(b"FRAME Ixx", b"FRAME", 1))
        with pytest.raises(ValueError, match="FRAME line of frame 1 differs"):
            rawframes.read(str(y4m), format)
        with pytest.raises(ValueError, match="are 7 x 5 but the call gives 8 x 5"):
            y4m.write_bytes(text)
            rawframes.read(str(y4m), format, 8, 5)
    # A mapped file cut shorter is found before it is read.
    os.truncate(path, 100)
    with pytest.raises(ValueError, match="it was cut after read()"):
        rawframes.rgb10_to_yuv10(frames[1:])


def test_wrong_arrays_are_value_errors(clip):
    rgb, _ = clip
    for call in (lambda: rawframes.rgb10_to_yuv10(rgb.astype(np.int32)),
                 lambda: rawframes.rgb10_to_yuv10(rgb[:, :2]),
                 lambda: rawframes.dovrak(rgb[0, 0]),
                 lambda: rawframes.yuv420_to_rgb(np.zeros(10, np.uint8), W, H),
                 lambda: rawframes.frame_snr(rgb, rgb[:, :, :4], "rgb10"),
                 lambda: rawframes.frame_snr(rgb, rgb, "rgb12"),
                 lambda: rawframes.read("x", "rgb10", 0, 5)):
        with pytest.raises(ValueError):
            call()


def test_what_cannot_be_had_is_an_exception_not_a_crash():
    huge = np.broadcast_to(np.uint16(1), (1, 3, 2**20, 2**20))  # 6 TiB to copy
    with pytest.raises(MemoryError):
        rawframes.frame_snr(huge, huge, "rgb10")
    # Threads that cannot start (their stacks do not fit) leave the work to
    # the others.
    script = ("import numpy as np, rawframes; "
              "print(rawframes.rgb10_to_yuv10(np.zeros((3000, 3, 1, 1), np.uint16), threads=3000).shape)")
    out = subprocess.run(["sh", "-c", 'ulimit -v 3000000; exec "$0" -c "$1"', sys.executable, script],
                         capture_output=True, text=True)
    assert out.returncode == 0 and out.stdout == "(3000, 3, 1, 1)\n", out.stderr


def test_measures_agree_with_independent_models():
    """SSIM against scikit-image, MS-SSIM against a numpy evaluation of its
    definition, CIEDE2000 against scikit-image's on a numpy CIELAB: each
    within 1e-10 (SSIM, MS-SSIM) or 1e-9 (CIEDE2000)."""
    metrics = pytest.importorskip("skimage.metrics")
    color = pytest.importorskip("skimage.color")
    ndimage = pytest.importorskip("scipy.ndimage")
    rng = np.random.default_rng(9)
    h, w = 180, 200
    ramp = (np.arange(w)[None, :] * 4 + np.arange(h)[:, None] * 2) % 1024
    reference = np.stack([np.stack([(ramp + 97 * p + 31 * f) % 1024 for p in range(3)])
                          for f in range(2)]).astype(np.uint16)
    target = np.clip(reference.astype(int) + rng.integers(-6, 7, reference.shape), 0, 1023)
    target = target.astype(np.uint16)

    g = np.exp(-np.arange(-5, 6) ** 2 / 4.5)
    g /= g.sum()

    def maps(x, y, peak):
        def window(a):
            a = ndimage.correlate1d(ndimage.correlate1d(a, g, axis=0), g, axis=1)
            return a[5:-5, 5:-5]
        mx, my = window(x), window(y)
        vx, vy = window(x * x) - mx * mx, window(y * y) - my * my
        cov = window(x * y) - mx * my
        c1, c2 = (0.01 * peak) ** 2, (0.03 * peak) ** 2
        cs = (2 * cov + c2) / (vx + vy + c2)
        return (2 * mx * my + c1) / (mx * mx + my * my + c1) * cs, cs

    def ms_ssim(x, y, peak):
        weights = [0.0448, 0.2856, 0.3001, 0.2363, 0.1333]
        value = 1.0
        for k, weight in enumerate(weights):
            ssim_map, cs_map = maps(x, y, peak)
            mean = max((ssim_map if k == 4 else cs_map).mean(), 0.0)
            value *= mean ** weight
            hh, ww = x.shape[0] // 2 * 2, x.shape[1] // 2 * 2
            x = x[:hh, :ww].reshape(hh // 2, 2, ww // 2, 2).mean(axis=(1, 3))
            y = y[:hh, :ww].reshape(hh // 2, 2, ww // 2, 2).mean(axis=(1, 3))
        return value

    got_ssim = rawframes.ssim(target, reference, "rgb10")
    got_ms = rawframes.ms_ssim(target, reference, "rgb10")
    for f in range(2):
        for p in range(3):
            x, y = target[f, p].astype(float), reference[f, p].astype(float)
            want = metrics.structural_similarity(x, y, gaussian_weights=True, sigma=1.5,
                                                 use_sample_covariance=False, data_range=1023)
            assert abs(got_ssim[f, p] - want) <= 1e-10
            assert abs(got_ms[f, p] - ms_ssim(x, y, 1023)) <= 1e-10

    def lab(rgb):
        v = rgb.astype(float) / 1023
        linear = np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)
        xy = np.array([[0.64, 0.33], [0.30, 0.60], [0.15, 0.06], [0.3127, 0.3290]])
        xyz = np.stack([xy[:, 0] / xy[:, 1], np.ones(4), (1 - xy[:, 0] - xy[:, 1]) / xy[:, 1]])
        matrix = xyz[:, :3] * np.linalg.solve(xyz[:, :3], xyz[:, 3])
        x, y, z = np.einsum("ij,jhw->ihw", matrix, linear) / xyz[:, 3][:, None, None]
        f = lambda t: np.where(t > (6 / 29) ** 3, np.cbrt(t), t / (3 * (6 / 29) ** 2) + 4 / 29)
        return np.stack([116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))], axis=-1)

    got = rawframes.ciede2000(target, reference)
    for f in range(2):
        difference = color.deltaE_ciede2000(lab(reference[f]), lab(target[f]))
        assert abs(got[f, 0] - difference.mean()) <= 1e-9
        assert abs(got[f, 1] - difference.max()) <= 1e-9
