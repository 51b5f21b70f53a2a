/* A codec library of an older generation than the program was built for. */
unsigned avcodec_version(void) { return (58u << 16) | (134u << 8) | 100u; }
