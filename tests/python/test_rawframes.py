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


def rd_curve(*args):
    path = os.path.join(BUILD, "rd_curve", "rd-curve")
    return subprocess.run([path, *map(str, args)], capture_output=True, text=True)


def test_rd_curve_agrees_with_scipy_and_says_what_it_refuses(tmp_path):
    """BD-rate and BD-quality of rd-curve (and the module's) against scipy's
    interpolators integrated, for pchip, cubic and akima, within 1e-9; points
    from the command line and a CSV file (a rate as a coded file); and the
    refusals and warnings, one line each."""
    interpolate = pytest.importorskip("scipy.interpolate")

    def report(name, g, frames=10, format="rgb10", extra=None):
        summary = {"frames": frames, "average": {"r": g - 1, "g": g, "b": g + 1, **(extra or {})},
                   "global": {"r": g - 1.5, "g": g - 0.5, "b": g + 0.5}}
        (tmp_path / name).write_text(json.dumps(
            {"target": name, "reference": "ref", "format": format, "width": 8, "height": 8,
             "frame_skip": 0, "frames": [], "summary": summary}))
        return name

    anchor = ([1000, 1800, 3300, 6100], [33.1, 36.2, 39.0, 41.7])
    test = ([900, 1500, 3000, 5200], [33.9, 36.5, 39.6, 41.5])
    args = []
    for route, (rates, qualities) in (("a", anchor), ("b", test)):
        for k, (r, q) in enumerate(zip(rates, qualities)):
            args += [route, r, tmp_path / report(f"{route}{k}.json", q)]

    def model(kind):
        def average(xa, ya, xb, yb):
            lo, hi = max(min(xa), min(xb)), min(max(xa), max(xb))
            def integral(x, y):
                order = np.argsort(x)
                x, y = np.asarray(x)[order], np.asarray(y)[order]
                if kind == "cubic":
                    p = np.polyint(np.polyfit(x, y, 3))
                    return np.polyval(p, hi) - np.polyval(p, lo)
                cls = (interpolate.PchipInterpolator if kind == "pchip"
                       else interpolate.Akima1DInterpolator)
                return cls(x, y).integrate(lo, hi)
            return (integral(xb, yb) - integral(xa, ya)) / (hi - lo)
        la, lb = np.log10(anchor[0]), np.log10(test[0])
        return ((10 ** average(anchor[1], la, test[1], lb) - 1) * 100,
                average(la, anchor[1], lb, test[1]))

    for kind in ("pchip", "cubic", "akima"):
        out = rd_curve("--quality", "snr_g", "--interpolation", kind, "--json", "-", *args)
        assert out.returncode == 0, out.stderr
        (delta,) = json.loads(out.stdout)["bd"]
        want = model(kind)
        assert delta["bd_rate"] == pytest.approx(want[0], rel=1e-9)
        assert delta["bd_quality"] == pytest.approx(want[1], rel=1e-9)
        assert delta["bd_rate"] == rawframes.bd_rate(*anchor, *test, kind)
        assert delta["bd_quality"] == rawframes.bd_quality(*anchor, *test, kind)

    # A CSV of points, paths relative to it, one rate a coded file of 5000
    # bytes over 10 frames at 25 frames per second: 100 kbit/s.
    (tmp_path / "coded.bin").write_bytes(bytes(5000))
    (tmp_path / "points.csv").write_text(
        "route,rate,report\n" + "".join(f"a,{r},a{k}.json\n" for k, r in enumerate(anchor[0]))
        + "c,coded.bin,a0.json\nc,2000,a1.json\nc,3000,a2.json\n")
    out = rd_curve("--quality", "snr_g", "--fps", "25", "--points", tmp_path / "points.csv",
                   "--csv", "-")
    assert out.returncode == 0, out.stderr
    assert "c,100,33.1,a0.json\n" in out.stdout

    refused = [
        (["--quality", "snr_g", "--interpolation", "cubic", "x", 1, tmp_path / "a0.json",
          "x", 2, tmp_path / "a1.json", "y", 1, tmp_path / "a2.json", "y", 2, tmp_path / "a3.json"],
         1, "it has 2 points where cubic needs 4"),
        (["--quality", "snr_g", "x", 1, tmp_path / "a0.json", "x", 2, tmp_path / "a0.json",
          "y", 1, tmp_path / "a1.json", "y", 2, tmp_path / "a2.json"], 1, "the same quality"),
        (["--quality", "snr_g", "x", 1, tmp_path / "a0.json", "x", 2, tmp_path / "a1.json",
          "y", 1, tmp_path / "a2.json", "y", 2, tmp_path / "a3.json"], 1, "do not overlap"),
        (["--quality", "ssim_q", "x", 1, tmp_path / "a0.json"], 2, "unknown --quality 'ssim_q'"),
        (["--quality", "ssim_g", "x", 1, tmp_path / "a0.json"], 1, "it gives no ssim_g"),
        (["--quality", "snr_g", "x", 1, tmp_path / "a0.json",
          "x", 2, tmp_path / report("other.json", 34, format="rgb8")], 1, "measures rgb8 frames"),
        (["--quality", "snr_g", "x", 1, tmp_path / "a0.json", "x", "none.bin",
          tmp_path / "a1.json"], 1, "neither a number of kbit/s nor a coded file"),
    ]
    for arguments, status, why in refused:
        out = rd_curve(*arguments)
        assert out.returncode == status and why in out.stderr, (arguments, out.stderr)
        if status == 1:
            assert out.stderr.count("\n") == 1, out.stderr
    # Warned: a curve that gets worse with more bits, a small overlap, and
    # points of a route over different numbers of frames.
    out = rd_curve("--quality", "snr_g", "a", 1000, tmp_path / "a0.json",
                   "a", 2000, tmp_path / "a1.json", "a", 3000, tmp_path / report("f.json", 35.0, 9),
                   "b", 1000, tmp_path / "a0.json", "b", 2000, tmp_path / "a3.json")
    assert out.returncode == 0, out.stderr
    for why in ("gets worse as the rate rises", "overlap by only", "different numbers of frames"):
        assert why in out.stderr, out.stderr
    # Lower is better for colour differences, and the report says so.
    for k, d in enumerate((2.0, 1.5, 1.1, 0.9)):
        report(f"d{k}.json", 40, extra={"delta_e": d})
    out = rd_curve("--quality", "delta_e", *sum(([r, rate, tmp_path / f"d{k}.json"]
                   for r in ("p", "q") for k, rate in enumerate((1000, 2000, 3000, 4000))), []))
    assert out.returncode == 0 and "lower is better" in out.stdout and out.stderr == "", out.stderr


def png_pixels(path):
    """The RGB pixels of an 8-bit, non-interlaced PNG, decoded here."""
    import struct
    import zlib
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.setdefault(kind, b"")
        chunks[kind] += data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert depth == 8 and colour == 2
    raw = zlib.decompress(chunks[b"IDAT"])
    stride, rows, previous = 3 * width, [], bytearray(3 * width)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b, c = previous[i], previous[i - 3] if i >= 3 else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            predictor = [0, a, b, (a + b) // 2, a if pa <= pb and pa <= pc else b if pb <= pc else c][kind]
            line[i] = (line[i] + predictor) & 255
        rows.append(bytes(line))
        previous = line
    return np.frombuffer(b"".join(rows), np.uint8).reshape(height, width, 3)


def test_error_maps_regions_and_labels(tmp_path):
    """The error map's pixels follow the differences (zero, in between, the
    largest), its sidecar names the largest; a region is measured as the
    same rectangle cut from the files; labels name the inputs."""
    rng = np.random.default_rng(12)
    w, h = 40, 30
    reference = rng.integers(0, 1024, (2, 3, h, w), dtype=np.uint16)
    target = reference.copy()
    target[:, 1, 5:15, 10:30] += 7
    target[1, 1, 20, 33] += 200  # frame 1's largest difference, in G
    target[1, 0, 0, 0] ^= 1  # and its R differs: the lowest SNR of the first plane
    for name, frames in (("t", target), ("r", reference)):
        frames.astype("<u2").tofile(tmp_path / name)
    prefix = tmp_path / "map"
    program("frame-snr", tmp_path / "t", tmp_path / "r", 0, h, w, "--format", "rgb10",
            "--error-map", prefix, "--error-map-frames", "worst:1", "--error-map-plane", "g",
            "--label", "encoded", "--reference-label", "source", "--json", tmp_path / "r.json")
    sidecar = json.loads((tmp_path / "map-1.json").read_text())
    assert sidecar["largest"] == {"difference": 200, "x": 33, "y": 20, "plane": "g"}
    assert sidecar["target"] == "encoded" and sidecar["reference"] == "source"
    assert not (tmp_path / "map-0.json").exists()
    pixels = png_pixels(tmp_path / "map-1.png")
    assert pixels.shape == (h + 32, w, 3)
    assert (pixels[0, 0] == [68, 1, 84]).all()          # no difference: the first colour
    assert (pixels[20, 33] == [253, 231, 37]).all()     # the largest: the last
    block = pixels[5:15, 10:30].reshape(-1, 3)
    assert (block == block[0]).all() and not (block[0] == [68, 1, 84]).all()
    report = json.loads((tmp_path / "r.json").read_text())
    assert (report["target"], report["reference"]) == ("encoded", "source")
    # A region of 4:2:0 frames is the same rectangle cut from the files.
    yuv = rng.integers(0, 256, (3, w * h * 3 // 2), dtype=np.uint8)
    yuv.tofile(tmp_path / "a.yuv")
    (yuv ^ 3).astype(np.uint8).tofile(tmp_path / "b.yuv")

    def cut(frames, x, y, cw, ch):
        planes = [frames[:, :w * h].reshape(-1, h, w)[:, y:y + ch, x:x + cw]]
        for k in range(2):
            chroma = frames[:, w * h + k * w * h // 4:w * h + (k + 1) * w * h // 4]
            planes.append(chroma.reshape(-1, h // 2, w // 2)[:, y // 2:(y + ch) // 2,
                                                              x // 2:(x + cw) // 2])
        return np.concatenate([p.reshape(len(frames), -1) for p in planes], axis=1)

    for name in ("a", "b"):
        cut(np.fromfile(tmp_path / f"{name}.yuv", np.uint8).reshape(3, -1), 6, 4, 20, 12).tofile(
            tmp_path / f"{name}.cut")
    whole = program("frame-snr", tmp_path / "a.yuv", tmp_path / "b.yuv", 0, h, w, "--format",
                    "yuv420", "--region", "6,4,20,12", "--measure", "ssim", "--csv", "-")
    cropped = program("frame-snr", tmp_path / "a.cut", tmp_path / "b.cut", 0, 12, 20, "--format",
                      "yuv420", "--measure", "ssim", "--csv", "-")
    assert whole == cropped
    odd = subprocess.run([os.path.join(BUILD, "frame_snr", "frame-snr"), tmp_path / "a.yuv",
                          tmp_path / "b.yuv", "0", str(h), str(w), "--format", "yuv420",
                          "--region", "5,4,20,12"], capture_output=True, text=True)
    assert odd.returncode == 1 and "even coordinates" in odd.stderr
