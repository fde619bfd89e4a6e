/* A small program on librawframes: a 10-bit RGB frame through the reversible
 * transform and back, and through dovrak, with the SNR of the round trip.
 *   cc example.c $(pkg-config --cflags --libs rawframes) -o example */
#include <rawframes.h>
#include <stdio.h>

#define W 6
#define H 4

int main(void) {
  static uint16_t rgb[3][H][W], yuv10[3][H][W], back[3][H][W];
  static uint8_t y[H][W], cb[H / 2][W / 2], cr[H / 2][W / 2];
  for (int p = 0; p < 3; ++p)
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) rgb[p][r][c] = (uint16_t)((p * 331 + r * 97 + c * 41) % 1024);

  rawframes_input_plane in[3], yuv_in[3];
  rawframes_output_plane yuv_out[3], back_out[3];
  for (int p = 0; p < 3; ++p) {
    in[p] = (rawframes_input_plane){rgb[p], W * sizeof(uint16_t)};
    yuv_out[p] = (rawframes_output_plane){yuv10[p], W * sizeof(uint16_t)};
    yuv_in[p] = (rawframes_input_plane){yuv10[p], W * sizeof(uint16_t)};
    back_out[p] = (rawframes_output_plane){back[p], W * sizeof(uint16_t)};
  }
  uint64_t above = 0, clamped = 0;
  if (rawframes_rgb10_to_yuv10(in, yuv_out, W, H, &above) != RAWFRAMES_OK ||
      rawframes_yuv10_to_rgb10(yuv_in, back_out, W, H, &clamped) != RAWFRAMES_OK)
    return 1;
  rawframes_output_plane yuv420[3] = {{y, W}, {cb, W / 2}, {cr, W / 2}};
  if (rawframes_dovrak(in, yuv420, W, H, NULL) != RAWFRAMES_OK) return 1;

  printf("librawframes %s, %s\n", rawframes_version(), rawframes_isa());
  for (int p = 0; p < 3; ++p) {
    rawframes_sse sse;
    rawframes_input_plane a = {rgb[p], W * sizeof(uint16_t)}, b = {back[p], W * sizeof(uint16_t)};
    rawframes_plane_sse(RAWFRAMES_RGB10, p, a, b, W, H, &sse);
    printf("plane %d: squared error %llu, SNR %g dB\n", p, (unsigned long long)sse.low,
           rawframes_plane_snr(RAWFRAMES_RGB10, p, sse, W, H));
  }
  printf("Co+1024 %u, Y %u, Cg+1024 %u; Y' %u, Cb %u, Cr %u\n", yuv10[0][0][0], yuv10[1][0][0],
         yuv10[2][0][0], y[0][0], cb[0][0], cr[0][0]);
  return above == 0 && clamped == 0 ? 0 : 1;
}
