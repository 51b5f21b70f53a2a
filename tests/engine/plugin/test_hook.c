/* A frame-hook plug-in for the tests: paints plane 0 with the value given as its argument,
   counts what it is asked to do and lets the test read the counts back. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "engine/framehook_plugin.h"

struct hook {
  int value;
};

static int loads, configures, processed, releases;
static int last_argc;
static char configure_dir[4096];
static char last_arg[256];

__attribute__((constructor)) static void on_load(void) { loads++; }

int Configure(void **ctxp, int argc, char *argv[]) {
  configures++;
  last_argc = argc;
  if (!getcwd(configure_dir, sizeof configure_dir)) configure_dir[0] = 0;
  strncpy(last_arg, argc > 1 ? argv[argc - 1] : "", sizeof last_arg - 1);
  if (argc > 1 && strcmp(argv[1], "refuse") == 0) return -1;
  struct hook *h = calloc(1, sizeof *h);
  h->value = argc > 1 ? atoi(argv[1]) : 0;
  *ctxp = h;
  return 0;
}

void Process(void *ctx, uint8_t *data[4], int linesize[4], int pix_fmt, int width, int height, int64_t pts) {
  (void)pix_fmt;
  (void)pts;
  struct hook *h = ctx;
  processed++;
  for (int y = 0; y < height; y++) memset(data[0] + y * linesize[0], h ? h->value : 0, (size_t)width);
}

void Release(void *ctx) {
  releases++;
  free(ctx);
}

/* Read back by the tests through their own handle on the same module. */
int TestHookLoads(void) { return loads; }
int TestHookConfigures(void) { return configures; }
int TestHookProcessed(void) { return processed; }
int TestHookReleases(void) { return releases; }
int TestHookLastArgc(void) { return last_argc; }
const char *TestHookConfigureDir(void) { return configure_dir; }
const char *TestHookLastArg(void) { return last_arg; }
