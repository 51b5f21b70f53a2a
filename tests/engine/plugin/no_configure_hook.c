/* A plug-in with Process only: usable without arguments, refused with them. */
#include <stdint.h>

void Process(void *ctx, uint8_t *data[4], int linesize[4], int pix_fmt, int width, int height, int64_t pts) {
  (void)ctx;
  (void)data;
  (void)linesize;
  (void)pix_fmt;
  (void)width;
  (void)height;
  (void)pts;
}
