// Loading and binding the media libraries, and every way that can fail.
#include <gtest/gtest.h>

#include <unistd.h>

#include "media/ffapi.h"
#include "media/loader.h"

namespace {

const std::string fakeDir = FAKE_LIB_DIR;

bool allEntriesBound() {
  bool all = true;
#define CHECK_ENTRY(lib, name) all = all && ff.name != nullptr;
  FF_ENTRIES(CHECK_ENTRY)
#undef CHECK_ENTRY
  return all;
}

bool anyConverterLibLoaded(TFFmpegLoader &l) {
  for (auto id : {libAVUtil, libSwResample, libSwScale, libAVCodec, libAVFormat, libAVFilter})
    if (l.IsLoaded(id)) return true;
  return false;
}

} // namespace

TEST(Loader, PlayerSetBindsEveryEntryAndLoadsOnce) {
  TFFmpegLoader l;
  ASSERT_TRUE(l.LoadLibs(PlayerLibs)) << l.LastError();
  EXPECT_TRUE(l.LibsLoaded(PlayerLibs));
  EXPECT_TRUE(allEntriesBound());
  EXPECT_FALSE(l.IsLoaded(libAVDevice));
  EXPECT_STREQ(ff.avcodec_get_name(AV_CODEC_ID_H264), "h264");

  ASSERT_TRUE(l.LoadLibs(PlayerLibs)); // already loaded: nothing opened again
  l.UnloadLibs(PlayerLibs);
  EXPECT_FALSE(l.LibsLoaded(ConverterLibs));
  EXPECT_EQ(ff.avcodec_open2, nullptr);
  EXPECT_EQ(ff.av_log, nullptr);
}

TEST(Loader, DefaultFileNamesAreTheSonames) {
  TFFmpegLoader l;
  EXPECT_EQ(l.LibraryFileName(libAVCodec), "libavcodec.so.59");
  EXPECT_EQ(l.LibraryFileName(libSwResample), "libswresample.so.4");
  EXPECT_EQ(l.LibraryFileName(libSDL), "libSDL2-2.0.so.0");
  l.SetFileName(libSDL, "/opt/x/libSDL2.so");
  EXPECT_EQ(l.LibraryFileName(libSDL), "/opt/x/libSDL2.so");
}

TEST(Loader, MissingEntryPointNamesEntryAndFileAndLeavesNothingLoaded) {
  TFFmpegLoader l;
  l.SetLibraryPath(fakeDir + "/partial");
  EXPECT_FALSE(l.LoadLibs(ConverterLibs));
  EXPECT_EQ(l.LastError().rfind("Load function avcodec_find_decoder@libavcodec.so.59 error: ", 0), 0u)
      << l.LastError();
  EXPECT_NE(l.LastError().find("undefined symbol"), std::string::npos) << l.LastError();
  EXPECT_FALSE(anyConverterLibLoaded(l));
  EXPECT_EQ(ff.av_log, nullptr);
}

TEST(Loader, WrongMajorVersionNamesFoundAndExpected) {
  TFFmpegLoader l;
  l.SetLibraryPath(fakeDir + "/old/");
  EXPECT_FALSE(l.LoadLibs(ConverterLibs));
  EXPECT_EQ(l.LastError(),
            "Load library libavcodec.so.59 error: major version 58 found, 59 expected");
  EXPECT_FALSE(anyConverterLibLoaded(l));
}

TEST(Loader, MissingLibraryFailsPlayerSetAndUnloadsConverterSetToo) {
  TFFmpegLoader l;
  l.SetLibraryPath("/nonexistent/LibAV");
  l.SetFileName(libSDL, "libSDL2-absent.so.0");
  ASSERT_TRUE(l.LoadLibs(ConverterLibs)) << l.LastError();
  EXPECT_FALSE(l.LoadLibs(PlayerLibs));
  EXPECT_EQ(l.LastError().rfind("Load library /nonexistent/LibAV/libSDL2-absent.so.0 error: ", 0), 0u)
      << l.LastError();
  EXPECT_FALSE(anyConverterLibLoaded(l));
}

TEST(Loader, FolderWithAndWithoutTrailingSeparatorLoadTheSameFiles) {
  for (std::string path : {fakeDir + "/partial", fakeDir + "/partial/"}) {
    TFFmpegLoader l;
    l.SetLibraryPath(path);
    EXPECT_FALSE(l.LoadLib(libAVCodec));
    EXPECT_EQ(l.LastError().rfind("Load function avcodec_find_decoder@", 0), 0u) << path;
  }
}

TEST(Loader, LoadingLeavesCurrentDirectoryAlone) {
  char before[4096], after[4096];
  ASSERT_TRUE(getcwd(before, sizeof before));
  TFFmpegLoader l;
  l.SetLibraryPath(fakeDir + "/partial");
  l.LoadLibs(ConverterLibs);
  ASSERT_TRUE(getcwd(after, sizeof after));
  EXPECT_STREQ(before, after);
}

TEST(Loader, CodecLockIsRecursiveWithinAThread) {
  TCodecLockGuard outer(CodecLock());
  EXPECT_TRUE(CodecLock().try_lock());
  CodecLock().unlock();
}
