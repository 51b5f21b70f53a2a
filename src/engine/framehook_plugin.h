/* The contract of a frame-hook plug-in: a shared object the converter loads for "vhook".
   Only the three entry points and their calling order; nothing about how the host finds them. */
#ifndef MARLO_FRAMEHOOK_PLUGIN_H
#define MARLO_FRAMEHOOK_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called once after loading when the command line carries arguments; argv[0] is the module
   file name. Store per-hook state in *ctxp. Return 0 on success, anything else to refuse. */
typedef int (*FrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);

/* Called for every pre-processed picture of the conversion, in place. pix_fmt is the media
   libraries' pixel format number; pts is in microseconds. ctx is what Configure stored, or
   NULL when Configure was not called. Required. */
typedef void (*FrameHookProcessFn)(void *ctx, uint8_t *data[4], int linesize[4], int pix_fmt,
                                   int width, int height, int64_t pts);

/* Called once when the task releases its resources. Optional. */
typedef void (*FrameHookReleaseFn)(void *ctx);

/* A plug-in exports its functions under these names, with C linkage:
     int  Configure(void **ctxp, int argc, char *argv[]);
     void Process(void *ctx, uint8_t *data[4], int linesize[4], int pix_fmt,
                  int width, int height, int64_t pts);
     void Release(void *ctx);                                                     */

#ifdef __cplusplus
}
#endif

#endif
