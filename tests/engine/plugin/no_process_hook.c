/* A plug-in without the required Process entry point. */
int Configure(void **ctxp, int argc, char *argv[]) {
  (void)ctxp;
  (void)argc;
  (void)argv;
  return 0;
}
