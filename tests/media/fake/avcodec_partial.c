/* A codec library of the right generation that lacks every entry point but its version. */
unsigned avcodec_version(void) { return (59u << 16) | (37u << 8) | 100u; }
