// Target presets, the built-in encoder presets, preset files and the legacy-name tables.
// Not the dispatcher nor the option tables that finally take the values.
#include "engine/presets.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/ffmpeg_exception.h"
#include "engine/options.h"
#include "media/logger.h"

namespace {

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

// printf-style text from up to four strings.
std::string Format(const char *fmt, const std::string &a, const std::string &b = {}, const std::string &c = {},
                   const std::string &d = {}) {
  int n = snprintf(nullptr, 0, fmt, a.c_str(), b.c_str(), c.c_str(), d.c_str());
  std::string text(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) snprintf(text.data(), text.size() + 1, fmt, a.c_str(), b.c_str(), c.c_str(), d.c_str());
  return text;
}

const std::vector<TBuiltinPreset> builtins = {
    {"libx264-baseline",
     "coder=0\n"
     "bf=0\n"
     "flags2=-wpred-dct8x8\n"
     "wpredp=0\n"},
    {"libx264-default",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=3\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-fast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-fast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-faster",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=4\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=1\n"},
    {"libx264-faster_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=1\n"},
    {"libx264-fastfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-hq",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=4\n"
     "directpred=3\n"
     "trellis=1\n"
     "flags2=+wpred+mixed_refs+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-ipod320",
     "coder=0\n"
     "bf=0\n"
     "flags2=-wpred-dct8x8\n"
     "level=13\n"
     "maxrate=768000\n"
     "bufsize=3000000\n"
     "wpredp=0\n"},
    {"libx264-ipod640",
     "coder=0\n"
     "bf=0\n"
     "refs=1\n"
     "flags2=-wpred-dct8x8\n"
     "level=30\n"
     "maxrate=10000000\n"
     "bufsize=10000000\n"
     "wpredp=0\n"},
    {"libx264-lossless_fast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8\n"
     "me_method=hex\n"
     "subq=3\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "directpred=1\n"
     "flags2=+fastpskip\n"
     "cqp=0\n"
     "wpredp=0\n"},
    {"libx264-lossless_max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=esa\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=16\n"
     "directpred=1\n"
     "flags2=+mixed_refs+dct8x8+fastpskip\n"
     "cqp=0\n"
     "wpredp=2\n"},
    {"libx264-lossless_medium",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=hex\n"
     "subq=5\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "directpred=1\n"
     "flags2=+fastpskip\n"
     "cqp=0\n"
     "wpredp=2\n"},
    {"libx264-lossless_slow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=umh\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=2\n"
     "directpred=1\n"
     "flags2=+dct8x8+fastpskip\n"
     "cqp=0\n"
     "wpredp=2\n"},
    {"libx264-lossless_slower",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=4\n"
     "directpred=1\n"
     "flags2=+mixed_refs+dct8x8+fastpskip\n"
     "cqp=0\n"
     "wpredp=2\n"},
    {"libx264-lossless_ultrafast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "directpred=1\n"
     "flags2=+fastpskip\n"
     "cqp=0\n"},
    {"libx264-main",
     "flags2=-dct8x8\n"},
    {"libx264-max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+wpred+mixed_refs+dct8x8-fastpskip\n"
     "wpredp=2\n"},
    {"libx264-medium",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=3\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-medium_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-normal",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-placebo",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=16\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
     "wpredp=2\n"},
    {"libx264-placebo_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=16\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
     "wpredp=2\n"},
    {"libx264-slow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=5\n"
     "directpred=3\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-slow_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-slower",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=umh\n"
     "subq=9\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=8\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-slower_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-slowfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-superfast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=1\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-superfast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=1\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-ultrafast",
     "coder=0\n"
     "flags=-loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=0\n"
     "i_qfactor=0.71\n"
     "b_strategy=0\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=0\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-ultrafast_firstpass",
     "coder=0\n"
     "flags=-loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=0\n"
     "i_qfactor=0.71\n"
     "b_strategy=0\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=0\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-veryfast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-veryfast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"},
    {"libx264-veryslow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=umh\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=8\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-veryslow_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=8\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"},
    {"libx264-psp",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1250000\n"
     "maxrate=1500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40\n"},
    {"libx264-ps3",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "maxrate=3500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40\n"},
    {"libx264-ipod",
     "coder=0\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1000000\n"
     "maxrate=1250000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40\n"},
    {"libx264-mp4",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1250000\n"
     "maxrate=1500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40\n"},

};

} // namespace

const std::vector<TBuiltinPreset> &BuiltinPresets() { return builtins; }

const TBuiltinPreset *FindBuiltinPreset(const std::string &name) {
  std::string key = Lower(name);
  for (const TBuiltinPreset &p : builtins)
    if (key == p.Name) return &p;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Option and codec names of the older library generation

namespace {

// A flag of an old flag set that the current libraries keep as an option of its own, mostly in
// an encoder's own table. The value written is On or Off by the flag's sign.
struct MovedFlag {
  const char *Set;
  const char *Flag;
  const char *Name;
  const char *On;
  const char *Off;
};

const MovedFlag movedFlags[] = {
    {"flags2", "dct8x8", "8x8dct", "1", "0"},
    {"flags2", "wpred", "weightb", "1", "0"},
    {"flags2", "mixed_refs", "mixed-refs", "1", "0"},
    {"flags2", "fastpskip", "fast-pskip", "1", "0"},
    {"flags2", "bpyramid", "b-pyramid", "normal", "none"},
    {"flags2", "mbtree", "mbtree", "1", "0"},
    {"flags2", "aud", "aud", "1", "0"},
    {"flags2", "ssim", "ssim", "1", "0"},
    {"flags2", "psy", "psy", "1", "0"},
    {"flags2", "intra_refresh", "intra-refresh", "1", "0"},
    {"flags2", "ivlc", "intra_vlc", "1", "0"},
    {"flags2", "non_linear_q", "non_linear_quant", "1", "0"},
    {"flags", "scan_offset", "scan_offset", "1", "0"},
    {"flags", "alt", "alternate_scan", "1", "0"},
    {"flags", "part", "data_partitioning", "1", "0"},
    {"flags", "umv", "umv", "1", "0"},
    {"flags", "aiv", "aiv", "1", "0"},
    {"flags", "obmc", "obmc", "1", "0"},
    {"flags", "slice", "structured_slices", "1", "0"},
    {"flags", "naq", "mpv_flags", "+naq", "-naq"},
    {"flags", "mv0", "mpv_flags", "+mv0", "-mv0"},
    {"flags", "cbp", "mpv_flags", "+cbp_rd", "-cbp_rd"},
    {"flags", "qprd", "mpv_flags", "+qp_rd", "-qp_rd"},
};

// Options renamed without a change of values.
const std::pair<const char *, const char *> renamed[] = {
    {"directpred", "direct-pred"},
    {"wpredp", "weightp"},
    {"cqp", "qp"},
};

// The H.264 encoder's motion search methods moved to "motion-est"; the MPEG family's to
// "motion_est", which knows fewer of them.
const char *const h264MotionMethods[] = {"dia", "hex", "umh", "esa", "tesa"};
const std::pair<const char *, const char *> mpegMotionMethods[] = {{"zero", "zero"}, {"epzs", "epzs"},
                                                                   {"x1", "xone"}, {"xone", "xone"}};

// The old partition flags and the H.264 encoder's names for the same partitions; the set the
// encoder starts from when a value only adds or removes some.
const std::pair<const char *, const char *> partitionNames[] = {
    {"parti4x4", "i4x4"}, {"parti8x8", "i8x8"}, {"partp4x4", "p4x4"}, {"partp8x8", "p8x8"}, {"partb8x8", "b8x8"}};
const char *const defaultPartitions[] = {"i4x4", "i8x8", "p8x8", "b8x8"};

struct FlagToken {
  char Sign; // '+', '-' or 0
  std::string Name;
};

std::vector<FlagToken> SplitFlags(const std::string &value) {
  std::vector<FlagToken> tokens;
  size_t i = 0;
  while (i < value.size()) {
    char sign = 0;
    if (value[i] == '+' || value[i] == '-') sign = value[i++];
    size_t end = value.find_first_of("+-", i);
    if (end == std::string::npos) end = value.size();
    tokens.push_back({sign, value.substr(i, end - i)});
    i = end;
  }
  return tokens;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs TranslateFlags(const std::string &set, const std::string &value) {
  std::string kept;
  Pairs moved;
  for (const FlagToken &t : SplitFlags(value)) {
    const MovedFlag *m = nullptr;
    for (const MovedFlag &f : movedFlags)
      if (set == f.Set && t.Name == f.Flag) m = &f;
    if (!m) {
      if (t.Sign) kept += t.Sign;
      kept += t.Name;
      continue;
    }
    std::string v = t.Sign == '-' ? m->Off : m->On;
    auto same = std::find_if(moved.begin(), moved.end(), [&](auto &p) { return p.first == m->Name; });
    if (same == moved.end())
      moved.emplace_back(m->Name, v);
    else if (v[0] == '+' || v[0] == '-')
      same->second += v; // several old flags landing in one flag set
    else
      same->second = v;
  }
  Pairs out;
  if (!kept.empty()) out.emplace_back(set, kept);
  out.insert(out.end(), moved.begin(), moved.end());
  return out;
}

Pairs TranslatePartitions(const std::string &value) {
  bool on[std::size(partitionNames)] = {};
  for (const char *d : defaultPartitions)
    for (size_t i = 0; i < std::size(partitionNames); i++) on[i] |= std::strcmp(partitionNames[i].second, d) == 0;
  std::vector<FlagToken> tokens = SplitFlags(value);
  if (!tokens.empty() && tokens[0].Sign == 0) std::fill(std::begin(on), std::end(on), false); // a bare list is the whole set
  for (const FlagToken &t : tokens) {
    size_t i = 0;
    while (i < std::size(partitionNames) && t.Name != partitionNames[i].first) i++;
    if (i == std::size(partitionNames)) return {{"partitions", value}}; // not an old spelling: the libraries judge it
    on[i] = t.Sign != '-';
  }
  std::string text;
  for (size_t i = 0; i < std::size(partitionNames); i++)
    if (on[i]) text += (text.empty() ? "" : ",") + std::string(partitionNames[i].second);
  return {{"partitions", text.empty() ? "none" : text}};
}

} // namespace

std::vector<std::pair<std::string, std::string>> TranslateLegacyOption(const std::string &name,
                                                                       const std::string &value) {
  if (name == "flags" || name == "flags2") return TranslateFlags(name, value);
  if (name == "partitions") return TranslatePartitions(value);
  if (name == "me_method") {
    for (const char *m : h264MotionMethods)
      if (value == m) return {{"motion-est", value}};
    for (auto &[old, now] : mpegMotionMethods)
      if (value == old) return {{"motion_est", now}};
    return {{name, value}};
  }
  for (auto &[old, now] : renamed)
    if (name == old) return {{now, value}};
  return {{name, value}};
}

namespace {
// Encoders that stored settings name but the current libraries offer under another name (or,
// for "vorbis", only as an experimental encoder).
const std::pair<const char *, const char *> legacyCodecs[] = {
    {"libfaac", "aac"},     {"libflac", "flac"},    {"msmpeg4v1", "msmpeg4v2"},
    {"wmv3", "wmv2"},       {"vorbis", "libvorbis"}, {"libamr_nb", "libopencore_amrnb"}};
} // namespace

std::string CurrentEncoderName(const std::string &name) {
  for (auto &[old, now] : legacyCodecs) {
    if (name != old) continue;
    const AVCodec *codec = ff.avcodec_find_encoder_by_name(old);
    if (codec && !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) return name;
    if (!ff.avcodec_find_encoder_by_name(now)) return name; // nothing better: the caller's messages apply
    return now;
  }
  return name;
}

std::string ResolveLegacyCodecName(const std::string &name) {
  std::string now = CurrentEncoderName(name);
  if (now != name)
    FFLogger().Log(nullptr, llInfo, Format("Encoder '%s' is not available, using '%s' instead", name, now));
  return now;
}

// ---------------------------------------------------------------------------------------------
// Target presets

namespace {

enum Norm { PAL, NTSC, FILM, Unknown };

Norm NormOfRate(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return Unknown;
  long r = std::lround(double(rate.num) * 1000 / rate.den);
  if (r == 25000) return PAL;
  if (r == 29970 || r == 23976) return NTSC;
  return Unknown;
}

Norm ResolveNorm(TOptionHost &host, const std::string &norm, const std::string &fallback) {
  if (norm == "pal") return PAL;
  if (norm == "ntsc") return NTSC;
  if (norm == "film") return FILM;
  TOptionState &s = host.Options();
  if (s.FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
  Norm n = NormOfRate(s.FrameRate);
  for (AVRational rate : n == Unknown ? host.InputVideoFrameRates() : std::vector<AVRational>{}) {
    n = NormOfRate(rate);
    if (n != Unknown) break;
  }
  if (n == Unknown) n = fallback == "film" ? FILM : fallback == "ntsc" ? NTSC : PAL;
  if (s.Verbose > 0)
    FFLogger().Log(host.LogSender(), llVerbose, Format("Assuming %s for target.", n == PAL ? "PAL" : "NTSC"));
  return n;
}

struct TargetRow {
  const char *Name;
  const char *VideoCodec; // nullptr: none set
  const char *AudioCodec;
  const char *Format;
  const char *PalSize, *OtherSize;
  std::vector<std::pair<const char *, const char *>> Options; // after frame rate and GOP
  bool Gop;
  int SampleRate;
  int Channels;      // set as is; 0: leave
  bool MonoToStereo; // 1 channel becomes 2
  double MuxPreload; // 0: leave
  const char *Aspect; // "4:3", "16:9" or nullptr
};

const TargetRow targets[] = {
    {"vcd", "mpeg1video", "mp2", "vcd", "352x288", "352x240",
     {{"b", "1150000"}, {"maxrate", "1150000"}, {"minrate", "1150000"}, {"bufsize", "327680"}, {"ab", "224000"},
      {"packetsize", "2324"}, {"muxrate", "1411200"}},
     true, 44100, 2, false, 0.44, "4:3"},
    {"svcd", "mpeg2video", "mp2", "svcd", "480x576", "480x480",
     {{"b", "2040000"}, {"maxrate", "2516000"}, {"minrate", "0"}, {"bufsize", "1835008"}, {"flags", "+scan_offset"},
      {"ab", "224000"}, {"packetsize", "2324"}},
     true, 44100, 0, true, 0, "4:3"},
    {"dvd", "mpeg2video", "ac3", "dvd", "720x576", "720x480",
     {{"b", "6000000"}, {"maxrate", "9000000"}, {"minrate", "0"}, {"bufsize", "1835008"}, {"packetsize", "2048"},
      {"muxrate", "10080000"}, {"ab", "448000"}},
     true, 48000, 0, true, 0, "16:9"},
    {"dv", nullptr, nullptr, "dv", "720x576", "720x480", {}, false, 48000, 2, false, 0, nullptr},
    {"dv50", nullptr, nullptr, "dv", "720x576", "720x480", {}, false, 48000, 2, false, 0, nullptr},
};

} // namespace

void ApplyTargetPreset(TOptionHost &host, const std::string &target, const std::string &norm,
                       const std::string &fallbackNorm) {
  const TargetRow *row = nullptr;
  for (const TargetRow &t : targets)
    if (target == t.Name) row = &t;
  if (!row) throw FFmpegException("Unknown target type");
  Norm n = ResolveNorm(host, norm, fallbackNorm);
  TOptionState &s = host.Options();

  if (row->VideoCodec) DispatchOption(host, "vcodec", row->VideoCodec);
  if (row->AudioCodec) DispatchOption(host, "acodec", row->AudioCodec);
  DispatchOption(host, "f", row->Format);
  DispatchOption(host, "s", n == PAL ? row->PalSize : row->OtherSize);
  DispatchOption(host, "r", n == PAL ? "25" : n == NTSC ? "30000/1001" : "24000/1001");
  // A setting no table of these libraries takes is told, not dropped in silence.
  auto generic = [&](const char *name, const char *value) {
    if (!SetGenericOption(host, name, value))
      FFLogger().Log(host.LogSender(), llWarning,
                     Format("Target %s: option \"%s\" = \"%s\" was not applied", row->Name, name, value));
  };
  if (row->Gop) generic("g", n == PAL ? "15" : "18");
  if (std::strcmp(row->Name, "dv50") == 0)
    DispatchOption(host, "pix_fmt", "yuv422p");
  else if (std::strcmp(row->Format, "dv") == 0)
    DispatchOption(host, "pix_fmt", n == PAL ? "yuv420p" : "yuv411p");
  for (auto &[name, value] : row->Options) generic(name, value);

  s.AudioSampleRate = row->SampleRate;
  if (row->Channels) s.AudioChannels = row->Channels;
  if (row->MonoToStereo && s.AudioChannels == 1) s.AudioChannels = 2;
  if (row->MuxPreload > 0) s.MuxPreload = row->MuxPreload;
  if (row->Aspect && s.FrameAspectRatio == 0) {
    FFLogger().Log(host.LogSender(), llInfo, Format("Assuming %s for aspect ratio", row->Aspect));
    s.FrameAspectRatio = std::strcmp(row->Aspect, "4:3") == 0 ? 4.0 / 3 : 16.0 / 9;
  }
}

// ---------------------------------------------------------------------------------------------
// Presets

namespace {

// Defaults of the older library that the built-in H.264 presets count on when they leave a
// setting out (no B-frames, no 8x8 transform, no weighted or mixed-reference prediction); the
// current encoder's own defaults would otherwise turn a baseline preset into a high-profile one.
const std::pair<const char *, const char *> legacyH264Defaults[] = {
    {"bf", "0"}, {"flags2", "-dct8x8-wpred-mixed_refs-fastpskip-bpyramid-mbtree"}, {"wpredp", "0"}};

bool AlreadySet(TOptionState &s, const std::string &name) {
  for (const std::string &n : s.Generic.SetNames())
    if (n == name) return true;
  return ff.av_dict_get(*s.Generic.PrivateOptions(AVMEDIA_TYPE_VIDEO), name.c_str(), nullptr, 0) != nullptr;
}

void SetLegacyH264Defaults(TOptionHost &host) {
  TOptionState &s = host.Options();
  if (s.LegacyH264DefaultsSet) return;
  for (auto &[legacyName, legacyValue] : legacyH264Defaults)
    for (auto &[name, value] : TranslateLegacyOption(legacyName, legacyValue)) {
      if (AlreadySet(s, name)) continue; // the user's own choice stands
      if (!SetGenericOption(host, name, value)) return; // not the H.264 encoder: nothing to lay down
    }
  s.LegacyH264DefaultsSet = true;
}

bool FileExists(const std::string &name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

void ApplyPreset(TOptionHost &host, const std::string &kind, const std::string &value) {
  if (kind.empty() || value.empty()) return;
  TOptionState &s = host.Options();
  std::string name = value;
  const TBuiltinPreset *builtin = nullptr;
  if (kind != "fpre") {
    builtin = FindBuiltinPreset(value);
    if (!builtin) {
      std::string prefix;
      if (kind == "vpre" && !s.VideoCodecName.empty())
        prefix = s.VideoCodecName;
      else if (kind == "apre" && !s.AudioCodecName.empty())
        prefix = s.AudioCodecName;
      else if (!s.SubtitleCodecName.empty())
        prefix = s.SubtitleCodecName;
      if (!prefix.empty()) {
        name = prefix + "-" + value;
        builtin = FindBuiltinPreset(name);
      }
    }
  }
  std::string text;
  if (builtin) {
    text = builtin->Text;
    SetLegacyH264Defaults(host);
  } else {
    name = value; // a file goes by its own name
    if (!FileExists(value)) throw FFmpegException(Format("Preset \"%s\" not found", value));
    std::ifstream in(value, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) throw FFmpegException(Format("Preset \"%s\" not found", value));
    text = all.str();
  }

  std::string lines = Trim(text);
  for (size_t i = 0; (i = lines.find('\r', i)) != std::string::npos;)
    lines.replace(i, lines.compare(i, 2, "\r\n") == 0 ? 2 : 1, "\n");
  std::istringstream stream(lines);
  for (std::string raw; std::getline(stream, raw);) {
    std::string line = Trim(raw);
    if (line.empty()) continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : line.substr(0, eq);
    std::string val = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key.empty() || val.empty()) throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", name, line));
    std::string lower = Lower(key);
    if (lower == "acodec" || lower == "vcodec" || lower == "scodec")
      DispatchOption(host, lower, val);
    else if (!SetGenericOption(host, key, val))
      throw FFmpegException(
          Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", name, line, key, val));
  }
}
