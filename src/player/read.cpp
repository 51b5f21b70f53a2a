// Opening a file for playback, the read thread that demuxes it into the stream queues
// (with the buffering limits, seeking and the end of input), opening and closing the
// streams, and the teardown. Decoding and display happen elsewhere.
#include <chrono>
#include <climits>
#include <thread>

#include "media/loader.h"
#include "media/logger.h"
#include "media/synccall.h"
#include "media/unicode_protocol.h"
#include "media/ffutils.h"
#include "player/display.h"
#include "player/ffplayer.h"
#include "player/playback.h"

namespace {

constexpr int64_t kMaxQueueBytes = 15 * 1024 * 1024;
constexpr int64_t kMinAudioBytes = 327680;
constexpr int kMinPackets = 5;

using namespace std::chrono_literals;

// Lets the library give up a blocking read once this file is being closed.
int interruptCheck(void *opaque) {
  return static_cast<TPlaybackState *>(opaque)->AbortRequest ? 1 : 0;
}

// A thread's object is joined without blocking the user-interface thread's events:
// the joined thread may be waiting for a call the user-interface thread has to run.
void joinPumping(std::thread &t, const std::atomic<bool> *done = nullptr) {
  if (!t.joinable()) return;
  if (done) WaitPumping([&] { return done->load(); });
  t.join();
}

bool openStream(TPlaybackState &s, int index) {
  AVFormatContext *ic = s.Read.Format;
  if (index < 0 || index >= int(ic->nb_streams)) return false;
  AVStream *st = ic->streams[index];
  TCustomPlayer &player = s.Player;

  const AVCodec *codec = ff.avcodec_find_decoder(st->codecpar->codec_id);
  CodecPtr dec(codec ? ff.avcodec_alloc_context3(codec) : nullptr);
  bool opened = false;
  if (dec && ff.avcodec_parameters_to_context(dec.get(), st->codecpar) >= 0) {
    dec->pkt_timebase = st->time_base;
    dec->workaround_bugs = 1;
    dec->idct_algo = FF_IDCT_AUTO;
    dec->err_recognition = 1;
    dec->error_concealment = 3;
    dec->thread_count = 1;
    TCodecLockGuard guard(CodecLock());
    opened = ff.avcodec_open2(dec.get(), codec, nullptr) >= 0;
  }
  if (!opened) {
    player.LogError("avcodec_open() failed.");
    return false;
  }

  switch (st->codecpar->codec_type) {
  case AVMEDIA_TYPE_AUDIO: {
    s.Audio.Decoder = std::move(dec);
    s.Audio.Stream = st;
    std::string error;
    if (!OpenAudioDevice(s, error)) {
      player.LogError("SDL_OpenAudio() failed: " + error);
      TCodecLockGuard guard(CodecLock());
      s.Audio.Decoder.reset();
      s.Audio.Stream = nullptr;
      return false;
    }
    st->discard = AVDISCARD_DEFAULT;
    s.Audio.StreamIndex = index;
    s.Audio.DurationUS = st->duration != AV_NOPTS_VALUE
                             ? ff.av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q)
                             : -1;
    s.Audio.BufferSize = s.Audio.BufferIndex = 0;
    s.Audio.Queue.Start();
    s.Audio.Queue.PutFlush();
    ff.SDL_PauseAudioDevice(s.Audio.Device, 0);
    return true;
  }
  case AVMEDIA_TYPE_VIDEO:
    s.Video.Decoder = std::move(dec);
    s.Video.Stream = st;
    s.Video.StreamIndex = index;
    st->discard = AVDISCARD_DEFAULT;
    s.Video.Queue.Start();
    s.Video.Queue.PutFlush();
    if (!StartVideo(s)) {
      CloseStream(s, index);
      return false;
    }
    return true;
  case AVMEDIA_TYPE_SUBTITLE:
    s.Subtitle.Decoder = std::move(dec);
    s.Subtitle.Stream = st;
    s.Subtitle.StreamIndex = index;
    st->discard = AVDISCARD_DEFAULT;
    s.Subtitle.Queue.Start();
    s.Subtitle.Queue.PutFlush();
    s.Subtitle.Thread = std::thread([&s] { SubtitleThread(s); });
    return true;
  default: {
    TCodecLockGuard guard(CodecLock());
    dec.reset();
    return false;
  }
  }
}

bool queuesFull(TPlaybackState &s) {
  const int64_t total = s.Audio.Queue.Size() + s.Video.Queue.Size() + s.Subtitle.Queue.Size();
  if (total > kMaxQueueBytes) return true;
  const bool audio = !s.HasAudio() || s.Audio.Queue.Size() > kMinAudioBytes;
  const bool video = !s.HasVideo() || s.Video.Queue.Count() > kMinPackets;
  const bool subs = s.Subtitle.StreamIndex < 0 || s.Subtitle.Queue.Count() > kMinPackets;
  return audio && video && subs;
}

void doSeek(TPlaybackState &s) {
  AVFormatContext *ic = s.Read.Format;
  TCustomPlayer &player = s.Player;
  const int64_t target = s.SeekPos, rel = s.SeekRel;
  const int64_t lo = rel > 0 ? target - rel + 2 : INT64_MIN;
  const int64_t hi = rel < 0 ? target - rel - 2 : INT64_MAX;
  const int flags = s.SeekFlags;
  int ret = ff.avformat_seek_file(ic, -1, lo, target, hi, flags);
  if (ret < 0) ret = ff.av_seek_frame(ic, -1, target, flags);
  if (ret < 0) ret = ff.av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  if (ret < 0) {
    FFLogger().LogFmt(&player, llError, "%s: error while seeking", s.FileName.c_str());
    if (s.HasVideo()) player.SeekPictureSignal.Set();
  } else {
    if (s.HasAudio()) {
      s.Audio.Queue.Flush();
      s.Audio.Queue.PutFlush();
    }
    if (s.Subtitle.StreamIndex >= 0) {
      s.Subtitle.Queue.Flush();
      s.Subtitle.Queue.PutFlush();
    }
    if (s.HasVideo()) {
      s.Video.Queue.Flush();
      s.Video.Queue.PutFlush();
      s.Video.FlushSeen = false;
      player.SeekPictureSignal.Clear();
    }
  }
  s.Read.EofReported = false;
  s.Read.EofSeen = false;
  if (ic->pb) ic->pb->eof_reached = 0; // the end seen before the seek is no longer ahead
  s.EndReached = false;
  s.SeekRequest = false;
  s.AfterSeek = true;
  player.SeekDoneSignal.Set();
  if (!s.HasVideo()) player.Seeking = false;
}

// Returns false when the input failed so badly that reading cannot go on.
bool readOnce(TPlaybackState &s, AVPacket *pkt) {
  AVFormatContext *ic = s.Read.Format;
  TCustomPlayer &player = s.Player;
  s.Read.InsideRead = true;
  const int ret = ff.av_read_frame(ic, pkt);
  s.Read.InsideRead = false;
  if (s.AbortRequest) {
    if (ret >= 0) ff.av_packet_unref(pkt);
    return false;
  }
  if (ret < 0) {
    if (ret == AVERROR(EAGAIN)) {
      std::this_thread::sleep_for(10ms);
      return true;
    }
    if (s.HasVideo()) player.SeekPictureSignal.Set();
    if (!s.Read.ImageSequence && !s.Read.EofReported) {
      s.Read.EofReported = true;
      if (ret == AVERROR_EOF)
        FFLogger().LogFmt(&player, llInfo, "reach end of file: %s", s.FileName.c_str());
      else
        FFLogger().LogFmt(&player, llError, "error #%d while reading file: %s", ret,
                          s.FileName.c_str());
    }
    s.Read.EofSeen = true;
    if (ic->pb && ic->pb->error) return false;
    if (ret != AVERROR_EOF) std::this_thread::sleep_for(100ms);
    return true;
  }
  if (pkt->stream_index == s.Audio.StreamIndex)
    s.Audio.Queue.Put(pkt);
  else if (pkt->stream_index == s.Video.StreamIndex)
    s.Video.Queue.Put(pkt);
  else if (pkt->stream_index == s.Subtitle.StreamIndex)
    s.Subtitle.Queue.Put(pkt);
  ff.av_packet_unref(pkt);
  return true;
}

void mainLoop(TPlaybackState &s) {
  AVFormatContext *ic = s.Read.Format;
  PacketPtr pkt(ff.av_packet_alloc());
  while (!s.AbortRequest) {
    if (s.Paused != s.LastPaused) {
      s.LastPaused = s.Paused;
      if (s.LastPaused)
        s.Read.PauseResult = ff.av_read_pause(ic);
      else
        ff.av_read_play(ic);
    }
    if (s.SeekRequest) doSeek(s);
    if (queuesFull(s)) {
      std::this_thread::sleep_for(10ms);
      continue;
    }
    if (s.Read.EofSeen || (ic->pb && ff.avio_feof(ic->pb))) {
      if (s.HasVideo()) {
        s.Video.Queue.PutEndOfInput();
        s.Player.SeekPictureSignal.Set();
      }
      std::this_thread::sleep_for(10ms);
      if (s.Audio.Queue.Count() == 0 && s.Video.Queue.Count() == 0 &&
          s.Subtitle.Queue.Count() == 0)
        s.EndReached = true;
      continue;
    }
    if (!readOnce(s, pkt.get())) break;
  }
  while (!s.AbortRequest) std::this_thread::sleep_for(100ms);
}

void readThread(TPlaybackState &s, const std::string &libraryName) {
  TCustomPlayer &player = s.Player;
  AVFormatContext *ic = ff.avformat_alloc_context();
  bool failed = true;
  if (!ic) {
    player.StoreError("av_mallocz() failed.", true);
  } else {
    ic->interrupt_callback.callback = interruptCheck;
    ic->interrupt_callback.opaque = &s;
    AVDictionary *opts = nullptr;
    if (player.FrameWidth() > 0 && player.FrameHeight() > 0)
      ff.av_dict_set(&opts, "video_size",
                     (std::to_string(player.FrameWidth()) + "x" +
                      std::to_string(player.FrameHeight()))
                         .c_str(),
                     0);
    ff.av_dict_set(&opts, "framerate", "25", 0);
    const int err = OpenLibraryInput(&ic, libraryName, nullptr, &opts);
    ff.av_dict_free(&opts);
    if (err < 0) {
      player.StoreError(ErrorText(s.FileName, err), false);
    } else {
      s.Read.Format = ic;
      if (ff.avformat_find_stream_info(ic, nullptr) < 0) {
        player.StoreError(s.FileName + ": could not find codec parameters", false);
      } else {
        if (ic->pb) ic->pb->eof_reached = 0;
        const std::string fmt = ic->iformat ? ic->iformat->name : "";
        s.Read.ImageSequence = fmt == "image2";
        s.Read.LiveCapture = fmt == "vfwcap" || fmt == "vfwcapture";
        s.Read.StartTime = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
        s.Read.Duration = ic->duration != AV_NOPTS_VALUE ? ic->duration : -1;
        for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
        // The library's own choice: the stream it judges best of each kind.
        const int audio = player.DisableAudio() ? -1
            : ff.av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        const int video = player.DisableVideo() ? -1
            : ff.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const int subs = player.DisableVideo() ? -1
            : ff.av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1, video, nullptr, 0);
        if (audio >= 0) openStream(s, audio);
        if (video >= 0) openStream(s, video);
        if (subs >= 0) openStream(s, subs);
        if (!s.HasAudio() && !s.HasVideo()) {
          player.StoreError(s.FileName + ": could not open codecs, no stream to play.", false);
        } else {
          failed = false;
          s.Read.OpenStatus = 1;
          mainLoop(s);
        }
      }
    }
  }

  if (s.Read.OpenStatus != 1) s.Read.OpenStatus = -1;
  if (s.HasAudio()) CloseStream(s, s.Audio.StreamIndex);
  if (s.HasVideo()) CloseStream(s, s.Video.StreamIndex);
  if (s.Subtitle.StreamIndex >= 0) CloseStream(s, s.Subtitle.StreamIndex);
  player.AVProbe().AttachFormatContext(nullptr);
  // A failed OpenLibraryInput has freed the context itself.
  if (s.Read.Format) CloseLibraryInput(&s.Read.Format);
  (void)failed;
  if (s.Read.OpenStatus == -1) s.Read.OpenStatus = -2;
  s.Read.Done = true;
}

} // namespace

TPlaybackState::~TPlaybackState() {
  for (TPicture &p : Video.Pictures.Pics) p.Overlay.reset();
  FreeSubtitles(*this);
  ff.av_channel_layout_uninit(&Audio.LastLayout);
}

void CloseStream(TPlaybackState &s, int index) {
  AVFormatContext *ic = s.Read.Format;
  if (!ic || index < 0 || index >= int(ic->nb_streams)) return;
  AVStream *st = ic->streams[index];
  CodecPtr dec;
  if (index == s.Video.StreamIndex) {
    s.Video.Queue.Abort();
    WakePictureQueue(s);
    if (s.Video.Thread.joinable()) s.Video.Thread.join();
    s.Video.Queue.Flush();
    dec = std::move(s.Video.Decoder);
    s.Video.StreamIndex = -1;
    s.Video.Stream = nullptr;
  } else if (index == s.Audio.StreamIndex) {
    s.Audio.Queue.Abort();
    CloseAudioDevice(s);
    s.Audio.Converter.reset();
    s.Audio.Queue.Flush();
    dec = std::move(s.Audio.Decoder);
    s.Audio.StreamIndex = -1;
    s.Audio.Stream = nullptr;
    s.Audio.DurationUS = -1;
  } else if (index == s.Subtitle.StreamIndex) {
    s.Subtitle.StreamChanged = true;
    s.Subtitle.Queue.Abort();
    s.Subtitle.Subs.Cond.notify_all();
    if (s.Subtitle.Thread.joinable()) s.Subtitle.Thread.join();
    s.Subtitle.Queue.Flush();
    dec = std::move(s.Subtitle.Decoder);
    s.Subtitle.StreamIndex = -1;
    s.Subtitle.Stream = nullptr;
  } else {
    return;
  }
  st->discard = AVDISCARD_ALL;
  TCodecLockGuard guard(CodecLock());
  dec.reset();
}

bool OpenPlayback(TCustomPlayer &player, const std::string &fileName, bool startPaused) {
  auto s = std::make_unique<TPlaybackState>(player);
  if (startPaused) {
    s->Paused = true;
    s->StepCounter = 1;
  }
  s->FileName = fileName;
  const std::string libraryName = fileName;
  TPlaybackState &st = *s;
  try {
    st.Read.Thread = std::thread([&st, libraryName] { readThread(st, libraryName); });
  } catch (const std::system_error &) {
    player.StoreError("SDL_CreateThread() failed.", true);
    return false;
  }
  WaitPumping([&] { return st.Read.OpenStatus != 0; }, std::chrono::milliseconds(0));
  if (st.Read.OpenStatus != 1) {
    WaitPumping([&] { return st.Read.OpenStatus == -2; });
    st.Read.Thread.join();
    player.ResetFileFields();
    return false;
  }
  if (!st.HasVideo() && !player.DisableDisplay()) st.Display.AudioDisplay = true;
  st.Display.RefreshThread = std::thread([&st] { RefreshThread(st); });
  player.SetPlayback(s.release());
  return true;
}

void TeardownPlayback(TCustomPlayer &player) {
  TPlaybackState *s = player.Playback();
  if (!s) return;
  s->AbortRequest = true;
  s->Video.Queue.Abort();
  s->Audio.Queue.Abort();
  s->Subtitle.Queue.Abort();
  WakePictureQueue(*s);
  joinPumping(s->Read.Thread, &s->Read.Done);
  joinPumping(s->Display.RefreshThread);
  player.SetPlayback(nullptr);
  delete s;
  player.ResetFileFields();
}
