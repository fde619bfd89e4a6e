#include "kernel_harness.hpp"

#include <cstring>
#include <span>

#include "ciede2000.hpp"
#include "measure_tables.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "snr.hpp"
#include "ssim.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"
#include "yuv420_to_rgb_kernel.hpp"

namespace kernel_harness {

using namespace rawframes;

std::uint32_t Source::next() {
    if (data_ != nullptr || size_ != 0) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v = (v << 8) | (size_ ? *data_ : 0);
            if (size_) ++data_, --size_;
        }
        return v;
    }
    // xorshift32: fast, and the same sequence on every machine.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

Guarded::Guarded(const Bytes& content, std::size_t offset) : size_(content.size()) {
    storage_.assign(content.size() + offset + kGuard + 64, 0xA5);
    const auto base = reinterpret_cast<std::uintptr_t>(storage_.data());
    start_ = (64 - base % 64) % 64 + offset;
    if (!content.empty()) std::memcpy(storage_.data() + start_, content.data(), content.size());
}

bool Guarded::guards_intact() const {
    for (std::size_t i = start_ + size_; i < start_ + size_ + kGuard; ++i)
        if (storage_[i] != 0xA5) return false;
    return true;
}

Bytes Guarded::content() const {
    return Bytes(storage_.begin() + static_cast<std::ptrdiff_t>(start_),
                 storage_.begin() + static_cast<std::ptrdiff_t>(start_ + size_));
}

namespace {

// Samples of 16 bits as bytes in host order.
Bytes samples16(std::size_t n, const std::function<std::uint16_t(std::size_t)>& at) {
    Bytes b(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t v = at(i);
        std::memcpy(b.data() + 2 * i, &v, 2);
    }
    return b;
}

Bytes pattern(std::size_t bytes) {
    return Bytes(bytes, 0x5A);
}

// The kernels of the measures read and write doubles, which the harness's
// misaligned buffers cannot give them: they run on aligned copies, whose
// outputs carry guard values after them; the result holds the outputs and
// whether every guard is intact.
Bytes bytes_of(const std::vector<double>& d) {
    Bytes b(d.size() * sizeof(double));
    std::memcpy(b.data(), d.data(), b.size());
    return b;
}
std::vector<double> doubles_of(Guarded& g, std::size_t count) {
    std::vector<double> d(count);
    std::memcpy(d.data(), g.as<std::uint8_t>(), count * sizeof(double));
    return d;
}
constexpr std::size_t kDoubleGuards = 16;
constexpr double kGuardValue = -1.25e300;
std::vector<double> guarded_output(std::size_t count) {
    std::vector<double> d(count + kDoubleGuards, kGuardValue);
    std::fill(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(count), 0.0);
    return d;
}
void store_output(Guarded& out, Guarded& intact, const std::vector<double>& d, std::size_t count) {
    std::memcpy(out.as<std::uint8_t>(), d.data(), count * sizeof(double));
    bool ok = true;
    for (std::size_t i = count; i < d.size(); ++i) ok = ok && d[i] == kGuardValue;
    intact.as<std::uint8_t>()[0] = ok ? 1 : 0;
}

// Rows of samples as SSIM reads them: 10-bit integers or multiples of 1/256.
std::vector<double> ssim_samples(Source& s, std::size_t count, bool scaled) {
    std::vector<double> v(count);
    for (auto& x : v) x = scaled ? s.below(1024 * 256) / 256.0 : s.below(1024);
    return v;
}
// The four quantities of 11 rows of `n` columns: x, y, x^2 + y^2, x y.
std::vector<double> ssim_rows(Source& s, std::size_t n) {
    const bool scaled = s.below(2);
    const std::vector<double> x = ssim_samples(s, 11 * n, scaled),
                              y = ssim_samples(s, 11 * n, scaled);
    std::vector<double> q(44 * n);
    for (std::size_t i = 0; i < 11 * n; ++i) {
        q[i] = x[i];
        q[11 * n + i] = y[i];
        q[22 * n + i] = x[i] * x[i] + y[i] * y[i];
        q[33 * n + i] = x[i] * y[i];
    }
    return q;
}
std::vector<const double*> ssim_row_pointers(const std::vector<double>& q, std::size_t n) {
    std::vector<const double*> rows(44);
    for (std::size_t k = 0; k < 44; ++k) rows[k] = q.data() + k * n;
    return rows;
}

template <class Fn>
Kernel describe(std::string name, std::span<const KernelVariant<Fn>> variants,
                std::function<std::vector<Bytes>(Source&, std::size_t)> make_inputs,
                std::function<void(Fn, std::vector<Guarded>&, std::size_t)> invoke) {
    Kernel k;
    k.name = std::move(name);
    for (const auto& v : variants) k.variants.push_back({v.name, v.isa});
    k.make_inputs = std::move(make_inputs);
    k.call = [variants, invoke](std::size_t v, std::vector<Guarded>& args, std::size_t n) {
        invoke(variants[v].fn, args, n);
    };
    return k;
}

std::vector<Kernel> describe_all() {
    std::vector<Kernel> all;
    // YCoCg-R on three planes in place: 10-bit or any 16-bit samples, with
    // extremes that drive Co, Cg and Y into their clamps.
    all.push_back(describe<YCoCgRPlanesFn>(
        "ycocg_r", ycocg_r_variants(),
        [](Source& s, std::size_t n) {
            const unsigned mask = s.below(2) ? 0x3FF : 0xFFFF;
            const bool extremes = s.below(2) == 0;
            std::vector<std::uint16_t> r(n), g(n), b(n);
            for (std::size_t i = 0; i < n; ++i) {
                r[i] = static_cast<std::uint16_t>(s.next() & mask);
                g[i] = static_cast<std::uint16_t>(s.next() & mask);
                b[i] = static_cast<std::uint16_t>(s.next() & mask);
                if (extremes && i % 7 == 0) r[i] = 65535, b[i] = 0;
                if (extremes && i % 11 == 0) g[i] = 65535, r[i] = 0;
            }
            return std::vector<Bytes>{samples16(n, [&](std::size_t i) { return r[i]; }),
                                      samples16(n, [&](std::size_t i) { return g[i]; }),
                                      samples16(n, [&](std::size_t i) { return b[i]; }),
                                      pattern(8)};
        },
        [](YCoCgRPlanesFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint64_t above =
                fn(a[0].as<std::uint16_t>(), a[1].as<std::uint16_t>(), a[2].as<std::uint16_t>(), n);
            std::memcpy(a[3].as<std::uint8_t>(), &above, sizeof above);
        }));
    // Inverse YCoCg-R in place: what the forward transform writes of 10-bit
    // input (which never clamps), or any 16-bit samples (which mostly do).
    all.push_back(describe<YCoCgRInversePlanesFn>(
        "ycocg_r_inverse", ycocg_r_inverse_variants(),
        [](Source& s, std::size_t n) {
            const bool forward = s.below(2);
            std::vector<std::uint16_t> p0(n), p1(n), p2(n);
            for (std::size_t i = 0; i < n; ++i) {
                p0[i] = static_cast<std::uint16_t>(s.next());
                p1[i] = static_cast<std::uint16_t>(s.next());
                p2[i] = static_cast<std::uint16_t>(s.next());
                if (forward) p0[i] &= 0x3FF, p1[i] &= 0x3FF, p2[i] &= 0x3FF;
            }
            if (forward) ycocg_r_planes_c(p0.data(), p1.data(), p2.data(), n);
            return std::vector<Bytes>{samples16(n, [&](std::size_t i) { return p0[i]; }),
                                      samples16(n, [&](std::size_t i) { return p1[i]; }),
                                      samples16(n, [&](std::size_t i) { return p2[i]; }),
                                      pattern(8)};
        },
        [](YCoCgRInversePlanesFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint64_t clamped =
                fn(a[0].as<std::uint16_t>(), a[1].as<std::uint16_t>(), a[2].as<std::uint16_t>(), n);
            std::memcpy(a[3].as<std::uint8_t>(), &clamped, sizeof clamped);
        }));
    // Squared error of 8-bit samples: any bytes, or near-equal ones.
    all.push_back(describe<SquaredError8Fn>(
        "squared_error8", squared_error8_variants(),
        [](Source& s, std::size_t n) {
            const bool near = s.below(2);
            Bytes t(n), r(n);
            for (std::size_t i = 0; i < n; ++i) {
                r[i] = static_cast<std::uint8_t>(s.next());
                t[i] = near ? static_cast<std::uint8_t>(r[i] + s.below(5) - 2)
                            : static_cast<std::uint8_t>(s.next());
            }
            return std::vector<Bytes>{t, r, pattern(8)};
        },
        [](SquaredError8Fn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint64_t sum = fn(a[0].as<std::uint8_t>(), a[1].as<std::uint8_t>(), n);
            std::memcpy(a[2].as<std::uint8_t>(), &sum, sizeof sum);
        }));
    // Squared error: small differences, any samples, or one extreme pair
    // (|d| = 65535) among near-equal ones; the sum goes to an 8-byte buffer.
    all.push_back(describe<SquaredErrorFn>(
        "squared_error", squared_error_variants(),
        [](Source& s, std::size_t n) {
            const unsigned style = s.below(3);
            std::vector<std::int16_t> t(n), r(n);
            for (std::size_t i = 0; i < n; ++i) {
                r[i] = static_cast<std::int16_t>(s.below(2048));
                t[i] = static_cast<std::int16_t>(r[i] + static_cast<int>(s.below(9)) - 4);
                if (style == 0) t[i] = static_cast<std::int16_t>(s.next());
            }
            const std::size_t at = s.below(static_cast<std::uint32_t>(n));
            if (style == 1) {
                const bool low = s.below(2);
                t[at] = low ? -32768 : 32767;
                r[at] = low ? 32767 : -32768;
            }
            if (style == 2) t[at] = static_cast<std::int16_t>(r[0] + 4096);
            const auto as16 = [](const std::vector<std::int16_t>& v) {
                return samples16(v.size(), [&](std::size_t i) { return std::uint16_t(v[i]); });
            };
            return std::vector<Bytes>{as16(t), as16(r), pattern(8)};
        },
        [](SquaredErrorFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint64_t sum = fn(a[0].as<std::int16_t>(), a[1].as<std::int16_t>(), n);
            std::memcpy(a[2].as<std::uint8_t>(), &sum, sizeof sum);
        }));
    // RGB to 4:2:0, per-pixel pass: 10-bit or 16-bit samples, or runs of the
    // boundary values 0 and 1023.
    all.push_back(describe<Rgb10ToYuv420PixelsFn>(
        "rgb10_to_yuv420_pixels", rgb10_to_yuv420_pixels_variants(),
        [](Source& s, std::size_t n) {
            const std::uint32_t max = s.below(3) == 0 ? 65535 : 1023;
            const bool bounds = s.below(5) == 1;
            std::vector<Bytes> planes;
            std::vector<std::uint16_t> v(3 * n);
            for (std::size_t i = 0; i < 3 * n; ++i)
                v[i] = static_cast<std::uint16_t>(s.below(max + 1));
            if (bounds)
                for (std::size_t i = 0; i < n; i += 3)
                    v[i] = v[n + i] = v[2 * n + i] = (i % 2) ? 1023 : 0;
            for (std::size_t p = 0; p < 3; ++p)
                planes.push_back(samples16(n, [&](std::size_t i) { return v[p * n + i]; }));
            planes.push_back(pattern(n));
            planes.push_back(pattern(8));
            return planes;
        },
        [](Rgb10ToYuv420PixelsFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint64_t above = fn(a[0].as<std::uint16_t>(), a[1].as<std::uint16_t>(),
                                           a[2].as<std::uint16_t>(), a[3].as<std::uint8_t>(), n);
            std::memcpy(a[4].as<std::uint8_t>(), &above, sizeof above);
        }));
    // RGB to 4:2:0, chroma averaging of a row pair of codes 1..255, or of a
    // single row (the bottom row of an odd-sized frame) given as both.
    all.push_back(describe<Rgb10ToYuv420AverageFn>(
        "rgb10_to_yuv420_average", rgb10_to_yuv420_average_variants(),
        [](Source& s, std::size_t n) {
            const auto codes = [&] {
                return samples16(
                    n, [&](std::size_t) { return static_cast<std::uint16_t>(1 + s.below(255)); });
            };
            Bytes top = codes(), bottom = codes();
            return std::vector<Bytes>{top, bottom, Bytes{static_cast<std::uint8_t>(s.below(2))},
                                      pattern((n + 1) / 2)};
        },
        [](Rgb10ToYuv420AverageFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::uint16_t* top = a[0].as<std::uint16_t>();
            const bool one_row = a[2].as<std::uint8_t>()[0] & 1;
            fn(top, one_row ? top : a[1].as<std::uint16_t>(), n, a[3].as<std::uint8_t>());
        }));
    // 4:2:0 to RGB, one row: any codes.
    all.push_back(describe<Yuv420RowFn>(
        "yuv420_row", yuv420_row_variants(),
        [](Source& s, std::size_t n) {
            const auto bytes = [&](std::size_t count) {
                Bytes b(count);
                for (auto& v : b) v = static_cast<std::uint8_t>(s.next());
                return b;
            };
            return std::vector<Bytes>{bytes(n),   bytes((n + 1) / 2), bytes((n + 1) / 2),
                                      pattern(n), pattern(n),         pattern(n)};
        },
        [](Yuv420RowFn fn, std::vector<Guarded>& a, std::size_t n) {
            fn(a[0].as<std::uint8_t>(), a[1].as<std::uint8_t>(), a[2].as<std::uint8_t>(),
               a[3].as<std::uint8_t>(), a[4].as<std::uint8_t>(), a[5].as<std::uint8_t>(), n);
        }));
    // SSIM: the four quantities of a row of 16-bit samples (any, negative
    // ones too), 8-bit ones, or a later scale's multiples of 1/256.
    all.push_back(describe<const SsimRowFns*>(
        "ssim_quantities", ssim_variants(),
        [](Source& s, std::size_t n) {
            const std::uint8_t kind = static_cast<std::uint8_t>(s.below(3));
            Bytes t, r;
            if (kind == 0) {
                t = samples16(n, [&](std::size_t) { return static_cast<std::uint16_t>(s.next()); });
                r = samples16(n, [&](std::size_t) { return static_cast<std::uint16_t>(s.next()); });
            } else if (kind == 1) {
                t.resize(n), r.resize(n);
                for (std::size_t i = 0; i < n; ++i)
                    t[i] = static_cast<std::uint8_t>(s.next()),
                    r[i] = static_cast<std::uint8_t>(s.next());
            } else {
                t = bytes_of(ssim_samples(s, n, true));
                r = bytes_of(ssim_samples(s, n, true));
            }
            return std::vector<Bytes>{t, r, Bytes{kind}, pattern(4 * n * sizeof(double)),
                                      pattern(1)};
        },
        [](const SsimRowFns* fns, std::vector<Guarded>& a, std::size_t n) {
            std::vector<double> out = guarded_output(4 * n);
            double* const rows[4] = {out.data(), out.data() + n, out.data() + 2 * n,
                                     out.data() + 3 * n};
            const std::uint8_t kind = a[2].as<std::uint8_t>()[0];
            if (kind == 0) {
                std::vector<std::int16_t> t(n), r(n);
                std::memcpy(t.data(), a[0].as<std::uint8_t>(), 2 * n);
                std::memcpy(r.data(), a[1].as<std::uint8_t>(), 2 * n);
                fns->quantities16(t.data(), r.data(), 0, n, rows);
            } else if (kind == 1) {
                fns->quantities8(a[0].as<std::uint8_t>(), a[1].as<std::uint8_t>(), 0, n, rows);
            } else {
                const std::vector<double> t = doubles_of(a[0], n), r = doubles_of(a[1], n);
                fns->quantities_double(t.data(), r.data(), 0, n, rows);
            }
            store_output(a[3], a[4], out, 4 * n);
        }));
    // SSIM: the window's column sums of 11 rows of the four quantities.
    all.push_back(describe<const SsimRowFns*>(
        "ssim_columns", ssim_variants(),
        [](Source& s, std::size_t n) {
            return std::vector<Bytes>{bytes_of(ssim_rows(s, n)), pattern(4 * n * sizeof(double)),
                                      pattern(1)};
        },
        [](const SsimRowFns* fns, std::vector<Guarded>& a, std::size_t n) {
            const std::vector<double> q = doubles_of(a[0], 44 * n);
            std::vector<double> v = guarded_output(4 * n);
            fns->columns(ssim_row_pointers(q, n).data(), 0, n, n, v.data());
            store_output(a[1], a[2], v, 4 * n);
        }));
    // SSIM: the positions of a row, from the column sums of real rows, added
    // to 8 partial sums each of SSIM and cs.
    all.push_back(describe<const SsimRowFns*>(
        "ssim_positions", ssim_variants(),
        [](Source& s, std::size_t n) {
            const std::size_t width = n + 10;
            const std::vector<double> q = ssim_rows(s, width);
            std::vector<double> v(4 * width);
            ssim_columns_c(ssim_row_pointers(q, width).data(), 0, width, width, v.data());
            std::vector<double> sums(16);
            for (auto& x : sums) x = s.below(1000) / 8.0;
            return std::vector<Bytes>{bytes_of(v), bytes_of(sums),
                                      Bytes{static_cast<std::uint8_t>(s.below(2))},
                                      pattern(16 * sizeof(double)), pattern(1)};
        },
        [](const SsimRowFns* fns, std::vector<Guarded>& a, std::size_t n) {
            const std::size_t width = n + 10;
            const std::vector<double> v = doubles_of(a[0], 4 * width);
            std::vector<double> sums = guarded_output(16);
            const std::vector<double> start = doubles_of(a[1], 16);
            std::copy(start.begin(), start.end(), sums.begin());
            const double peak = a[2].as<std::uint8_t>()[0] ? 1023 : 255;
            const double c1 = (0.01 * peak) * (0.01 * peak), c2 = (0.03 * peak) * (0.03 * peak);
            fns->positions(v.data(), width, 0, n, c1, c2, sums.data(), sums.data() + 8);
            store_output(a[3], a[4], sums, 16);
        }));
    // CIEDE2000 of a row: linear light of 10-bit codes, or any in [0, 1].
    all.push_back(describe<Ciede2000RowFn>(
        "ciede2000_row", ciede2000_variants(),
        [](Source& s, std::size_t n) {
            const bool codes = s.below(2);
            std::vector<double> linear(6 * n);
            for (auto& x : linear)
                x = codes ? measure_tables::kLinear10[s.below(1024)] : s.next() / 4294967295.0;
            return std::vector<Bytes>{bytes_of(linear), pattern(n * sizeof(double)), pattern(1)};
        },
        [](Ciede2000RowFn fn, std::vector<Guarded>& a, std::size_t n) {
            const std::vector<double> linear = doubles_of(a[0], 6 * n);
            const double* rows[6];
            for (std::size_t k = 0; k < 6; ++k) rows[k] = linear.data() + k * n;
            std::vector<double> out = guarded_output(n);
            fn(rows, 0, n, out.data());
            store_output(a[1], a[2], out, n);
        }));
    return all;
}

}  // namespace

const std::vector<Kernel>& kernels() {
    static const std::vector<Kernel> all = describe_all();
    return all;
}

std::optional<std::vector<Bytes>> run(const Kernel& k, std::size_t v,
                                      const std::vector<Bytes>& inputs, std::size_t n,
                                      std::size_t offset) {
    std::vector<Guarded> args;
    for (const Bytes& b : inputs) args.emplace_back(b, offset);
    k.call(v, args, n);
    std::vector<Bytes> out;
    for (const Guarded& g : args) {
        if (!g.guards_intact()) return std::nullopt;
        out.push_back(g.content());
    }
    return out;
}

std::string check(const Kernel& k, const std::vector<Bytes>& inputs, std::size_t n,
                  std::size_t offset) {
    const auto want = run(k, 0, inputs, n, offset);
    const std::string where =
        " (n " + std::to_string(n) + ", offset " + std::to_string(offset) + ")";
    if (!want) return k.name + "/plain wrote past a buffer" + where;
    for (std::size_t v = 1; v < k.variants.size(); ++v) {
        if (!cpu_supports(k.variants[v].isa)) continue;
        const auto got = run(k, v, inputs, n, offset);
        const std::string name = k.name + "/" + k.variants[v].name;
        if (!got) return name + " wrote past a buffer" + where;
        if (*got != *want) return name + " differs from the plain version" + where;
    }
    return {};
}

}  // namespace kernel_harness
