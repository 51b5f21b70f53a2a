// What reaches the sound device: SDL's disk driver writes every mixed sample to a file,
// so the volume and mute can be measured where they are heard.
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "player_support.h"

using namespace playertest;

namespace {

// Peak of the signed 16-bit samples of the file between two byte offsets.
int peak(const QByteArray &raw, qint64 from, qint64 to) {
  from &= ~qint64(1);
  to = std::min<qint64>(to, raw.size()) & ~qint64(1);
  int best = 0;
  for (qint64 i = from; i + 1 < to; i += 2) {
    const int16_t v = int16_t(uint8_t(raw[i]) | (uint8_t(raw[i + 1]) << 8));
    best = std::max(best, std::abs(int(v)));
  }
  return best;
}

qint64 written(const std::string &path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : qint64(size);
}

} // namespace

TEST(PlayerSound, VolumeScalesAndMuteSilencesWhatTheDeviceGets) {
  const std::string out =
      (std::filesystem::temp_directory_path() / ("marlo-player-sound-" + std::to_string(getpid()) + ".raw"))
          .string();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("tone.wav"), &h.host)) << h.player.LastErrMsg();
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 150000; }));

  // The file lags the mixer by the writer's buffer and a device buffer or two: measure
  // from well after each change.
  constexpr qint64 kSettle = 16384;
  const qint64 fullFrom = written(out);
  Harness::Pump(350);
  const qint64 fullTo = written(out);
  h.player.SetAudioVolume(64);
  const qint64 halfFrom = written(out) + kSettle;
  Harness::Pump(450);
  const qint64 halfTo = written(out);
  h.player.SetMute(true);
  const qint64 muteFrom = written(out) + kSettle;
  const int64_t positionAtMute = h.lastPosition;
  Harness::Pump(450);
  const qint64 muteTo = written(out);
  EXPECT_GT(h.lastPosition, positionAtMute + 200000) << "playback goes on while muted";
  h.player.Close(true);

  QFile f(QString::fromStdString(out));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray raw = f.readAll();
  f.close();
  std::filesystem::remove(out);
  ASSERT_GT(muteTo, muteFrom + 4096) << "too little sound was written to measure";

  const int full = peak(raw, fullFrom, fullTo);
  const int half = peak(raw, halfFrom, halfTo);
  const int muted = peak(raw, muteFrom, muteTo);
  EXPECT_NEAR(full, 32767 * fixtures::kToneAmplitude, 1500);
  EXPECT_NEAR(double(half) / full, 0.5, 0.03);
  EXPECT_EQ(muted, 0);
}
