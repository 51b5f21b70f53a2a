// The media libraries' declarations and the table through which every call to them goes.
// Nothing here loads anything: media/loader.h fills the table at run time.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
#define SDL_MAIN_HANDLED
#include <SDL.h>
}

#include "media/ffentries.h"

// One pointer per entry point, named as the library names it: call `ff.av_read_frame(...)`.
struct TFFEntries {
#define FF_DECLARE_ENTRY(lib, name) decltype(&::name) name = nullptr;
  FF_ENTRIES(FF_DECLARE_ENTRY)
#undef FF_DECLARE_ENTRY
};

extern TFFEntries ff;
