/* librawframes: the suite's exact conversions and measurements on frames in
 * memory, for C and C++.
 *
 * A plane is given by its first sample and its stride, the bytes from the
 * start of one row to the start of the next. 16-bit samples are in the host's
 * byte order, and a plane of them must start at an even address and have an
 * even stride (a function given another returns RAWFRAMES_INVALID). The results are those of the programs, bit for bit, on every
 * processor and whatever instruction set is used. Every function may be called
 * from any number of threads at once; nothing is shared between calls.
 */
#ifndef RAWFRAMES_H
#define RAWFRAMES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define RAWFRAMES_API __attribute__((visibility("default")))
#else
#define RAWFRAMES_API
#endif

#define RAWFRAMES_VERSION_MAJOR 1
#define RAWFRAMES_VERSION_MINOR 0
#define RAWFRAMES_VERSION_PATCH 0

/* What the functions return. */
enum {
  RAWFRAMES_OK = 0,
  RAWFRAMES_INVALID = 1,  /* a size, plane, format, pointer or stride that cannot be used */
  RAWFRAMES_NO_MEMORY = 2 /* the few rows of scratch memory could not be had */
};

/* The library's version, as "MAJOR.MINOR.PATCH". */
RAWFRAMES_API const char *rawframes_version(void);
/* The instruction set the conversions use here: "plain", "avx2" or "avx512",
 * the best this processor has within the cap. */
RAWFRAMES_API const char *rawframes_isa(void);
/* The cap the environment variable RAWFRAMES_ISA sets ("plain", "avx2" or
 * "avx512"), or "" when it is unset. */
RAWFRAMES_API const char *rawframes_isa_cap(void);

typedef struct {
  const void *data;
  ptrdiff_t stride;
} rawframes_input_plane;

typedef struct {
  void *data;
  ptrdiff_t stride;
} rawframes_output_plane;

/* 10-bit R, G, B (16-bit samples) to the reversible YCoCg-R planes
 * Co + 1024, Y, Cg + 1024 (16-bit). `above`, when not NULL, receives how many
 * input samples are above 1023 (their results are clamped). */
RAWFRAMES_API int rawframes_rgb10_to_yuv10(const rawframes_input_plane rgb[3],
                                           const rawframes_output_plane yuv10[3],
                                           int32_t width, int32_t height, uint64_t *above);

/* The inverse: Co + 1024, Y, Cg + 1024 to R, G, B, each clamped to 0..1023;
 * `clamped`, when not NULL, receives how many results were clamped. */
RAWFRAMES_API int rawframes_yuv10_to_rgb10(const rawframes_input_plane yuv10[3],
                                           const rawframes_output_plane rgb[3],
                                           int32_t width, int32_t height, uint64_t *clamped);

/* 10-bit R, G, B to 8-bit full-range BT.709 Y, Cb, Cr 4:2:0, as dovrak; the
 * chroma planes are (width + 1) / 2 x (height + 1) / 2. */
RAWFRAMES_API int rawframes_dovrak(const rawframes_input_plane rgb[3],
                                   const rawframes_output_plane yuv420[3], int32_t width,
                                   int32_t height, uint64_t *above);

/* 8-bit Y, Cb, Cr 4:2:0 to 8-bit R, G, B, as yuv420-to-rgb. */
RAWFRAMES_API int rawframes_yuv420_to_rgb(const rawframes_input_plane yuv420[3],
                                          const rawframes_output_plane rgb8[3], int32_t width,
                                          int32_t height);

/* The pixel formats frame-snr measures; planes are numbered in file order. */
typedef enum {
  RAWFRAMES_YUV10 = 0,  /* 16-bit Co + 1024, Y, Cg + 1024; peaks 2047, 1023, 2047 */
  RAWFRAMES_RGB10 = 1,  /* 16-bit R, G, B; peak 1023 */
  RAWFRAMES_RGB8 = 2,   /* 8-bit R, G, B; peak 255 */
  RAWFRAMES_YUV420 = 3  /* 8-bit Y, Cb, Cr 4:2:0; peak 255 */
} rawframes_format;

/* An exact sum of squared differences: high * 2^64 + low. */
typedef struct {
  uint64_t high, low;
} rawframes_sse;

/* The exact squared error of plane `plane` of a frame of `format` and size
 * width x height (16-bit samples are read as signed, as frame-snr does). */
RAWFRAMES_API int rawframes_plane_sse(rawframes_format format, int plane,
                                      rawframes_input_plane target,
                                      rawframes_input_plane reference, int32_t width,
                                      int32_t height, rawframes_sse *sse);

/* The SNR in decibels that frame-snr reports for that plane and squared error:
 * for identical planes 0 in yuv10's report and infinity in the others; yuv10's
 * plane 0 (U) is rounded to single precision. */
RAWFRAMES_API double rawframes_plane_snr(rawframes_format format, int plane, rawframes_sse sse,
                                         int32_t width, int32_t height);

/* The SSIM of plane `plane` against the reference plane, as frame-snr
 * --measure ssim gives it (the plane's peak as L, 16-bit samples read as
 * signed): an 11 x 11 Gaussian window (sigma 1.5) at every position where it
 * lies wholly inside the plane, averaged; NaN in *ssim when the plane is
 * smaller than 11 either way. */
RAWFRAMES_API int rawframes_plane_ssim(rawframes_format format, int plane,
                                       rawframes_input_plane target,
                                       rawframes_input_plane reference, int32_t width,
                                       int32_t height, double *ssim);

/* The MS-SSIM of that plane (5 scales), as frame-snr --measure ms-ssim gives
 * it; NaN when the plane is smaller than 176 either way. */
RAWFRAMES_API int rawframes_plane_ms_ssim(rawframes_format format, int plane,
                                          rawframes_input_plane target,
                                          rawframes_input_plane reference, int32_t width,
                                          int32_t height, double *ms_ssim);

/* The CIEDE2000 colour difference of an RGB frame (RAWFRAMES_RGB10 or
 * RAWFRAMES_RGB8) against the reference frame, as frame-snr --measure
 * ciede2000 gives it: the mean over the pixels and the largest. `clamped`,
 * when not NULL, receives how many samples lay outside 0 .. peak. */
RAWFRAMES_API int rawframes_ciede2000(rawframes_format format,
                                      const rawframes_input_plane target[3],
                                      const rawframes_input_plane reference[3], int32_t width,
                                      int32_t height, double *mean, double *max,
                                      uint64_t *clamped);

#ifdef __cplusplus
}
#endif

#endif /* RAWFRAMES_H */
