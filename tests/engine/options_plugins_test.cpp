// Frame-hook plug-ins ("vhook") and bitstream filters ("absf", "vbsf", "sbsf"): loading,
// configuring, calling and releasing plug-ins; filter chains on real packets.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "fixtures/fixtures.h"
#include "options_testing.h"

namespace {

const std::string hookDir = MARLO_HOOK_DIR;
const std::string testHook = hookDir + "/marlo_test_hook.so";

// The test's own handle on the loaded test plug-in, to read its counters.
template <class T> T HookFn(const char *name) {
  void *handle = dlopen(testHook.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(handle, nullptr) << "the plug-in is not loaded";
  if (!handle) return nullptr;
  T fn = reinterpret_cast<T>(dlsym(handle, name));
  dlclose(handle);
  return fn;
}
int Counter(const char *name) { return HookFn<int (*)()>(name)(); }

std::string Cwd() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? buf : "";
}

TEST(HookCommandLine, SplitsAtBarsOrSpaces) {
  const struct {
    const char *Line;
    std::vector<std::string> Parts;
  } cases[] = {
      {"hook.so", {"hook.so"}},
      {"hook.so 1 two", {"hook.so", "1", "two"}},
      {"hook.so  1", {"hook.so", "1"}},
      {"/a b/hook.so|x y|z", {"/a b/hook.so", "x y", "z"}},
      {"hook.so||z", {"hook.so", "", "z"}},
  };
  for (auto &c : cases) EXPECT_EQ(SplitHookCommandLine(c.Line), c.Parts) << c.Line;
  std::string many = "hook.so";
  for (int i = 0; i < 300; i++) many += " " + std::to_string(i);
  EXPECT_EQ(SplitHookCommandLine(many).size(), 254u);
}

TEST_F(OptionsTest, PluginIsConfiguredProcessesEveryPictureAndIsReleased) {
  const std::string before = Cwd();
  Apply("vhook", testHook + " 77");
  EXPECT_EQ(Cwd(), before); // the working folder comes back
  EXPECT_EQ(HookFn<const char *(*)()>("TestHookConfigureDir")(), hookDir); // and was the module's meanwhile
  EXPECT_EQ(Counter("TestHookLastArgc"), 2);
  EXPECT_EQ(std::string(HookFn<const char *(*)()>("TestHookLastArg")()), "77");
  ASSERT_EQ(S.FrameHooks.Count(), 1u);

  const int processedBefore = Counter("TestHookProcessed");
  AVFrame *frame = ff.av_frame_alloc();
  frame->width = 32;
  frame->height = 16;
  frame->format = AV_PIX_FMT_YUV420P;
  ASSERT_GE(ff.av_frame_get_buffer(frame, 0), 0);
  for (int i = 0; i < 5; i++) {
    frame->data[0][0] = 0;
    S.FrameHooks.Process(frame, i * 40000);
    EXPECT_EQ(frame->data[0][0], 77);
    EXPECT_EQ(frame->data[0][15 * frame->linesize[0] + 31], 77);
  }
  ff.av_frame_free(&frame);
  EXPECT_EQ(Counter("TestHookProcessed") - processedBefore, 5);

  const int releasesBefore = Counter("TestHookReleases");
  S.Reset(); // a task's release
  EXPECT_EQ(Counter("TestHookReleases") - releasesBefore, 1);
  EXPECT_TRUE(S.FrameHooks.Empty());
}

TEST_F(OptionsTest, PluginsRunInListOrderAndTheModuleIsShared) {
  Apply("vhook", testHook + "|10");
  const int configuresBefore = Counter("TestHookConfigures");
  Apply("vhook", testHook + "|20"); // the later plug-in sees the earlier one's picture
  TOptionState other;               // another task
  other.Reset();
  ASSERT_TRUE(other.FrameHooks.Add(testHook + " 30"));
  EXPECT_EQ(Counter("TestHookLoads"), 1); // loaded once for the process
  EXPECT_EQ(Counter("TestHookConfigures") - configuresBefore, 2);

  uint8_t plane[4 * 2] = {};
  uint8_t *data[4] = {plane, nullptr, nullptr, nullptr};
  int linesize[4] = {4, 0, 0, 0};
  S.FrameHooks.Process(data, linesize, AV_PIX_FMT_GRAY8, 4, 2, 0);
  EXPECT_EQ(plane[7], 20);
  other.FrameHooks.Process(data, linesize, AV_PIX_FMT_GRAY8, 4, 2, 0);
  EXPECT_EQ(plane[7], 30);
  const int releasesBefore = Counter("TestHookReleases");
  other.FrameHooks.Release();
  S.FrameHooks.Release();
  EXPECT_EQ(Counter("TestHookReleases") - releasesBefore, 3);
}

TEST_F(OptionsTest, PluginFailuresAreLoggedAndRefused) {
  const std::string noProcess = hookDir + "/marlo_no_process_hook.so";
  const std::string noConfigure = hookDir + "/marlo_no_configure_hook.so";
  const std::string missing = hookDir + "/nosuch_hook.so";
  const struct {
    std::string Value;
    std::string Logged;
  } cases[] = {
      {missing, missing + ": cannot open shared object file: No such file or directory"},
      {noProcess, "Failed to find Process entrypoint in " + noProcess},
      {noConfigure + " 1", "Failed to find Configure entrypoint in " + noConfigure},
      {testHook + " refuse", "Failed to Configure " + testHook},
  };
  const std::string before = Cwd();
  for (auto &c : cases) {
    ClearLog();
    EXPECT_EQ(ErrorOf("vhook", c.Value), "Failed to add video hook function: " + c.Value);
    EXPECT_TRUE(Logged(llError, c.Logged)) << c.Value;
    EXPECT_EQ(Cwd(), before);
  }
  EXPECT_TRUE(S.FrameHooks.Empty());
  // Without arguments a plug-in needs no Configure.
  EXPECT_EQ(ErrorOf("vhook", noConfigure), "");
  EXPECT_EQ(S.FrameHooks.Count(), 1u);
}

// --- bitstream filters -----------------------------------------------------------------------

struct Demuxed {
  AVFormatContext *Ctx = nullptr;
  int Video = -1;
  ~Demuxed() { ff.avformat_close_input(&Ctx); }
};

// The video packets of the first second of a fixture through a chain; their payloads out.
std::vector<std::string> RunChain(const TBsfChain &chain, const std::string &file, bool *annexB = nullptr) {
  Demuxed in;
  EXPECT_GE(ff.avformat_open_input(&in.Ctx, file.c_str(), nullptr, nullptr), 0);
  EXPECT_GE(ff.avformat_find_stream_info(in.Ctx, nullptr), 0);
  in.Video = ff.av_find_best_stream(in.Ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVStream *st = in.Ctx->streams[in.Video];
  TBsfStream filters(chain, st->codecpar, st->time_base);
  std::vector<std::string> out;
  auto keep = [&](AVPacket *p) {
    out.emplace_back(reinterpret_cast<char *>(p->data), size_t(p->size));
    return 0;
  };
  AVPacket *pkt = ff.av_packet_alloc();
  int read = 0;
  while (read < 25 && ff.av_read_frame(in.Ctx, pkt) >= 0) {
    if (pkt->stream_index == in.Video) {
      read++;
      EXPECT_GE(filters.Filter(pkt, keep), 0);
    }
    ff.av_packet_unref(pkt);
  }
  EXPECT_GE(filters.Filter(nullptr, keep), 0);
  ff.av_packet_free(&pkt);
  if (annexB) *annexB = filters.OutputParameters()->extradata_size == 0 || filters.OutputParameters()->extradata[0] == 0;
  return out;
}

TEST_F(OptionsTest, BitstreamFiltersRewriteTheStreamsPackets) {
  const std::string file = fixtures::Path("av.mp4");
  std::vector<std::string> plain = RunChain({}, file);
  ASSERT_EQ(plain.size(), 25u);
  EXPECT_NE(plain[0].compare(0, 4, std::string("\0\0\0\1", 4)), 0); // length-prefixed in MP4

  Apply("vbsf", "h264_mp4toannexb");
  bool annexB = false;
  std::vector<std::string> converted = RunChain(S.VideoBsfs, file, &annexB);
  ASSERT_EQ(converted.size(), 25u);
  EXPECT_EQ(converted[0].compare(0, 4, std::string("\0\0\0\1", 4)), 0);

  // Arguments reach the filter: by position ("amount:drop") or by name.
  TBsfChain drop, none;
  AppendBitstreamFilter(drop, "noise=0:1");
  EXPECT_TRUE(RunChain(drop, file).empty());
  AppendBitstreamFilter(none, "noise=amount=0");
  EXPECT_EQ(RunChain(none, file), plain);
}

TEST_F(OptionsTest, BitstreamFilterWithBadArgumentsFailsAtStreamSetUp) {
  TBsfChain chain;
  AppendBitstreamFilter(chain, "noise=nosuch=1");
  AVCodecParameters *par = ff.avcodec_parameters_alloc();
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_H264;
  try {
    TBsfStream s(chain, par, {1, 25});
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException &e) {
    EXPECT_EQ(std::string(e.what()).rfind("Invalid arguments \"nosuch=1\" for bitstream filter noise", 0), 0u) << e.what();
  }
  ff.avcodec_parameters_free(&par);
}

} // namespace
