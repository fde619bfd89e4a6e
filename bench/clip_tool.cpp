// clip-tool: makes deterministic test clips in the suite's raw formats and turns
// a planar 8-bit RGB frame into a PPM picture for viewing.
//
//   clip-tool make rgb10|yuv420 WIDTH HEIGHT FRAMES OUTFILE [NOISE]
//   clip-tool ppm WIDTH HEIGHT FRAME_INDEX PLANAR_RGB8_FILE OUT.ppm
//
// The clips have real structure (moving ramps, a bouncing disc, fine detail) so
// that conversions and measurements behave as on camera material. NOISE adds a
// reproducible pseudo-random offset of up to +-NOISE to every sample, which
// makes a "slightly altered copy" of the same clip.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rng {
    std::uint64_t state;
    std::uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    }
};

int usage() {
    std::fputs(
        "Usage: clip-tool make rgb10|yuv420 width height frames outfile [noise]\n"
        "       clip-tool ppm width height frame_index planar_rgb8_file out.ppm\n",
        stderr);
    return 2;
}

// A sample of the test picture in 0..1023 for plane p at (x, y) of frame t.
int picture(int p, int x, int y, int t, int w, int h) {
    const int cx = (w / 2) + (w / 4) * ((t % 40) - 20) / 20;
    const int cy = h / 2;
    const long dx = x - cx, dy = y - cy, r = (h / 4) + 1;
    const bool disc = dx * dx + dy * dy < r * r;
    const bool detail = ((x / 4 + y / 4 + t) & 7) == 0;
    int v = 0;
    switch (p) {
        case 0:
            v = static_cast<int>((1023L * x) / (w > 1 ? w - 1 : 1) + 7 * t) % 1024;
            break;
        case 1:
            v = static_cast<int>((1023L * y) / (h > 1 ? h - 1 : 1));
            break;
        default:
            v = static_cast<int>((511L * (x + y)) / (w + h) + 256);
            break;
    }
    if (disc) v = (p == 0) ? 900 : (p == 1 ? 300 : 120);
    if (detail) v = 1023 - v;
    return v;
}

int make(const char* format, int w, int h, int frames, const char* path, int noise) {
    if (w < 1 || h < 1 || frames < 0 || noise < 0) return usage();
    const bool rgb10 = std::strcmp(format, "rgb10") == 0;
    if (!rgb10 && std::strcmp(format, "yuv420") != 0) return usage();
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "clip-tool: cannot create %s\n", path);
        return 1;
    }
    Rng rng{0x5eed};
    const auto jitter = [&](int v, int max) {
        if (noise > 0) v += static_cast<int>(rng.next() % (2u * noise + 1)) - noise;
        return v < 0 ? 0 : (v > max ? max : v);
    };
    const std::size_t n = std::size_t(w) * h;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<std::uint8_t> frame;
    for (int t = 0; t < frames; ++t) {
        frame.clear();
        if (rgb10) {
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const int v = jitter(picture(p, x, y, t, w, h), 1023);
                        frame.push_back(static_cast<std::uint8_t>(v & 0xFF));
                        frame.push_back(static_cast<std::uint8_t>(v >> 8));
                    }
        } else {
            frame.reserve(n + 2 * std::size_t(cw) * ch);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    frame.push_back(
                        static_cast<std::uint8_t>(jitter(picture(1, x, y, t, w, h) / 4, 255)));
            for (int p = 0; p < 3; p += 2)
                for (int y = 0; y < ch; ++y)
                    for (int x = 0; x < cw; ++x)
                        frame.push_back(static_cast<std::uint8_t>(
                            jitter(picture(p, 2 * x, 2 * y, t, w, h) / 4, 255)));
        }
        if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
            std::fprintf(stderr, "clip-tool: cannot write %s\n", path);
            std::fclose(out);
            return 1;
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

int ppm(int w, int h, long index, const char* in_path, const char* out_path) {
    if (w < 1 || h < 1 || index < 0) return usage();
    const std::size_t n = std::size_t(w) * h;
    FILE* in = std::fopen(in_path, "rb");
    if (!in) {
        std::fprintf(stderr, "clip-tool: cannot open %s\n", in_path);
        return 1;
    }
    std::vector<std::uint8_t> planes(3 * n);
    const bool ok = std::fseek(in, static_cast<long>(3 * n) * index, SEEK_SET) == 0 &&
                    std::fread(planes.data(), 1, planes.size(), in) == planes.size();
    std::fclose(in);
    if (!ok) {
        std::fprintf(stderr, "clip-tool: %s has no frame %ld\n", in_path, index);
        return 1;
    }
    FILE* out = std::fopen(out_path, "wb");
    if (!out) {
        std::fprintf(stderr, "clip-tool: cannot create %s\n", out_path);
        return 1;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", w, h);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t px[3] = {planes[i], planes[n + i], planes[2 * n + i]};
        std::fwrite(px, 1, 3, out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 7 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6],
                    argc >= 8 ? std::atoi(argv[7]) : 0);
    if (argc == 7 && std::strcmp(argv[1], "ppm") == 0)
        return ppm(std::atoi(argv[2]), std::atoi(argv[3]), std::atol(argv[4]), argv[5], argv[6]);
    return usage();
}
