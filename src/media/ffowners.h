// Owners of the media libraries' objects: each frees its object with the library's own call
// through the loaded entry table. Not the objects' use, and not the owners of open files.
#pragma once

#include "media/ffapi.h"

#include <memory>

struct TCodecContextFree {
  void operator()(AVCodecContext *c) const { ff.avcodec_free_context(&c); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;

struct TFrameFree {
  void operator()(AVFrame *f) const { ff.av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

struct TPacketFree {
  void operator()(AVPacket *p) const { ff.av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

struct TSwsFree {
  void operator()(SwsContext *c) const { ff.sws_freeContext(c); }
};
using TSwsPtr = std::unique_ptr<SwsContext, TSwsFree>;

struct TSwrFree {
  void operator()(SwrContext *c) const { ff.swr_free(&c); }
};
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFree>;

struct TAudioFifoFree {
  void operator()(AVAudioFifo *f) const { ff.av_audio_fifo_free(f); }
};
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;

struct TDictFree {
  void operator()(AVDictionary *d) const { ff.av_dict_free(&d); }
};
using TDictPtr = std::unique_ptr<AVDictionary, TDictFree>;

struct TFilterGraphFree {
  void operator()(AVFilterGraph *g) const { ff.avfilter_graph_free(&g); }
};
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

struct TFilterInOutFree {
  void operator()(AVFilterInOut *io) const { ff.avfilter_inout_free(&io); }
};
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;

// A format context with no file of its own open: one being set up, or a scratch one.
struct TFormatContextFree {
  void operator()(AVFormatContext *c) const { ff.avformat_free_context(c); }
};
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextFree>;

// An input opened with avformat_open_input.
struct TInputContextClose {
  void operator()(AVFormatContext *c) const { ff.avformat_close_input(&c); }
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextClose>;
