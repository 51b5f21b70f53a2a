// The player on a headless panel: opening, events, pausing, seeking, the end of a file,
// the current picture and closing, against generated files of known pictures.
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "media/logger.h"
#include "player_support.h"

using namespace playertest;

namespace {

constexpr int64_t kDuration = 2000000; // the av.* fixtures
constexpr int64_t kFrameUs = 40000;    // 25 fps

int64_t positionEvents(const Harness &h) {
  return std::count_if(h.events.begin(), h.events.end(),
                       [](const Recorded &r) { return r.kind == Recorded::Position; });
}

// The bars over the top three quarters and the moving square below must be those of
// the frame at `pts`.
void expectPatternAt(const QImage &bitmap, int64_t pts) {
  ASSERT_EQ(bitmap.width(), 320);
  ASSERT_EQ(bitmap.height(), 240);
  const int64_t frame = pts / kFrameUs;
  for (int bar = 0; bar < 8; ++bar) {
    const int x = bar * 40 + 20, y = 60;
    EXPECT_TRUE(Near(bitmap.pixel(x, y), fixtures::kBars[bar])) << "bar " << bar;
  }
  // Across the square's band: the pattern says where white is for this frame only.
  int mismatches = 0;
  for (int x = 2; x < 320; x += 8) {
    const int y = 240 * 7 / 8;
    if (!Near(bitmap.pixel(x, y), fixtures::PatternColour(320, 240, frame, x, y), 80))
      ++mismatches;
  }
  EXPECT_LE(mismatches, 2) << "the square is not where frame " << frame << " has it";
}

} // namespace

TEST(Player, OpeningRaisesFileOpenPlayAndAdvancingPositions) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host)) << h.player.LastErrMsg();
  ASSERT_FALSE(h.events.empty());
  EXPECT_EQ(h.events.front().kind, Recorded::FileOpen); // before the play thread starts
  EXPECT_NEAR(double(h.events.front().value), double(kDuration), 50000);
  EXPECT_EQ(h.frameWidth, 320);
  EXPECT_EQ(h.frameHeight, 240);
  EXPECT_EQ(h.player.ScreenWidth(), kPanelWidth);

  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 500000; }));
  EXPECT_EQ(h.states.front(), psPlay);
  EXPECT_GE(positionEvents(h), 5);
  h.player.Close(true);
  EXPECT_EQ(h.player.State(), psStop);
  EXPECT_EQ(h.states.back(), psStop);
  EXPECT_FALSE(h.player.FileOpened());
}

TEST(Player, OpeningWhilePlayingReportsStopBeforePlay) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 200000; }));
  h.states.clear();
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mkv"), &h.host)) << h.player.LastErrMsg();
  ASSERT_TRUE(Harness::WaitFor([&] { return h.SawState(psPlay); }));
  ASSERT_GE(h.states.size(), 2u);
  EXPECT_EQ(h.states[0], psStop);
  EXPECT_EQ(h.states[1], psPlay);
}

TEST(Player, PauseHoldsThePositionAndResumeContinues) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 300000; }));
  h.player.Pause();
  EXPECT_EQ(h.player.State(), psPause);
  Harness::Pump(150); // pictures already queued may still fall due
  const int64_t held = h.player.Position();
  Harness::Pump(500);
  EXPECT_LE(std::llabs(h.player.Position() - held), kFrameUs);
  EXPECT_LT(h.player.Position(), kDuration - 500000);

  h.player.Resume();
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.Position() > held + 300000; }, 3000));
  EXPECT_TRUE(h.SawState(psResume));
}

TEST(Player, SeekWhilePausedShowsTheNewPictureAndStaysPaused) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host, true));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.State() == psPause; }));
  h.player.Seek(0, true, 1000000);
  ASSERT_TRUE(Harness::WaitFor([&] { return std::llabs(h.player.Position() - 1000000) < kFrameUs; }))
      << "position " << h.player.Position();
  Harness::Pump(300);
  EXPECT_EQ(h.player.State(), psPause);
  EXPECT_LT(std::llabs(h.player.Position() - 1000000), kFrameUs); // no further pictures
  int64_t pts = -1;
  const QImage &bitmap = h.player.CurrentFrame(pts);
  EXPECT_LT(std::llabs(pts - 1000000), kFrameUs);
  expectPatternAt(bitmap, pts);
}

TEST(Player, SeekingPastTheEndLandsAtTheDuration) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 100000; }));
  h.player.Seek(0, true, 60 * kDuration);
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition == h.events.front().value; }, 5000))
      << "last position " << h.lastPosition;
}

TEST(Player, SeekRelativeMovesFromTheClock) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.Position() >= 200000; }));
  // Forward: only key frames past where playback was count, here the one at 1 s.
  h.player.SeekRelative(0, true, 0.7);
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.Position() >= 1000000; }, 3000))
      << h.player.Position();
  const int64_t after = h.player.Position();
  EXPECT_LT(after, 1300000);
  // Back: only key frames before where playback was count, here the first one.
  h.player.SeekRelative(0, true, -0.9);
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.Position() < after - 700000; }, 3000))
      << h.player.Position();
}

TEST(Player, PositionsQueuedWhileTheUIThreadIsBusyCollapseToTheNewest) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 100000; }));
  const size_t before = h.events.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(600)); // no events served
  Harness::Pump(30);
  int delivered = 0;
  for (size_t i = before; i < h.events.size(); ++i)
    delivered += h.events[i].kind == Recorded::Position;
  // Fifteen pictures' worth of positions reach the handler as a handful, the newest last.
  EXPECT_GE(delivered, 1);
  EXPECT_LE(delivered, 4);
  EXPECT_LE(std::llabs(h.lastPosition - h.player.Position()), 60000);
}

TEST(Player, TheEndOfAFileIsReportedOnceAfterTheLastPicture) {
  // With sound the end waits for the sound too; without, only the pictures count.
  for (const char *name : {"av.mp4", "bgr24.avi"}) {
    SCOPED_TRACE(name);
    Harness h;
    int64_t shownAtEnd = -1;
    h.player.OnState = [&](TCustomPlayer *p, TPlayState s) {
      h.states.push_back(s);
      if (s == psEnd) p->CurrentFrame(shownAtEnd);
    };
    ASSERT_TRUE(h.player.Open(fixtures::Path(name), &h.host));
    ASSERT_TRUE(Harness::WaitFor([&] { return h.SawState(psEnd); }, 10000));
    Harness::Pump(400);
    EXPECT_EQ(h.CountState(psEnd), 1);
    TVideoStreamInfo video;
    ASSERT_TRUE(h.player.AVProbe().GetVideoStreamInfo(-1, video));
    const int64_t frameUs = int64_t(1e6) * video.FrameRateDen / video.FrameRateNum;
    EXPECT_EQ(shownAtEnd, video.DurationUS - frameUs) << "the last picture was not on screen";
    ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition == h.events.front().value; }, 5000))
        << "the last position event carries the duration, not " << h.lastPosition;

    // A seek continues playback; the next end is reported again.
    h.player.Seek(0, true, 1000000);
    ASSERT_TRUE(Harness::WaitFor([&] { return h.CountState(psEnd) == 2; }, 10000))
        << "ends reported: " << h.CountState(psEnd) << ", position " << h.lastPosition;
  }
}

TEST(Player, CurrentFrameIsTheShownPictureAndEmptyWithoutAFile) {
  Harness h;
  int64_t pts = 0;
  QImage nothing = h.player.CurrentFrame(pts);
  EXPECT_EQ(nothing.width(), 0);
  EXPECT_EQ(nothing.height(), 0);
  EXPECT_EQ(pts, -1);

  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 600000; }));
  h.player.Pause();
  Harness::Pump(300);
  const QImage &bitmap = h.player.CurrentFrame(pts);
  EXPECT_EQ(bitmap.format(), QImage::Format_BGR888);
  EXPECT_EQ(pts, h.player.Position()) << "not the displayed picture";
  expectPatternAt(bitmap, pts);

  h.player.Close(true);
  EXPECT_EQ(h.player.CurrentFrame(pts).width(), 0);
  EXPECT_EQ(pts, -1);
}

TEST(Player, HookDrawingReachesTheScreenPictureUnlessTheHookFails) {
  struct Case {
    const char *name;
    bool fails;
    fixtures::Rgb expected; // at the first bar
  };
  const Case cases[] = {
      {"the drawing is shown", false, {255, 0, 0}},
      {"a failing hook leaves the picture as decoded", true, fixtures::kBars[0]},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    std::vector<std::string> errors;
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([&](const void *sender, uint32_t, TLogLevel level, const std::string &msg) {
      if (sender == &h.player && level == llError) errors.push_back(msg);
    });
    h.player.SetHook(true);
    std::atomic<int> hooked{0};
    h.player.OnHook = [&](TCustomPlayer *, QImage &bitmap, int64_t) {
      EXPECT_FALSE(IsUIThread());
      bitmap.fill(QColor(255, 0, 0)); // a red picture whatever the file holds
      ++hooked;
      if (c.fails) throw std::runtime_error("no pen");
    };
    ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host, true));
    ASSERT_TRUE(Harness::WaitFor([&] { return h.player.State() == psPause; }));
    // A loaded machine may take a while to put the first picture up.
    QImage bitmap;
    Harness::WaitFor([&] {
      bitmap = h.player.CurrentFrame();
      return !bitmap.isNull() && hooked.load() >= 1;
    });
    h.player.Close(true);
    FFLogger().SetOnLog(nullptr);
    EXPECT_GE(hooked.load(), 1);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_TRUE(Near(bitmap.pixel(20, 60), c.expected, 24));
    if (c.fails) {
      ASSERT_FALSE(errors.empty());
      EXPECT_EQ(errors.front(), "Error occurs OnHook: no pen");
    } else {
      EXPECT_TRUE(errors.empty());
    }
  }
}

TEST(Player, AnAudioOnlyFileDrawsTheWaveformAndAdvancesWithTheSound) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("tone.wav"), &h.host)) << h.player.LastErrMsg();
  EXPECT_EQ(h.frameWidth, -1);
  EXPECT_EQ(h.frameHeight, -1);
  ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 400000; }));
  Harness::Pump(100);
  const QImage shot = h.host.grab().toImage();
  int white = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) white += qGray(shot.pixel(x, y)) > 200;
  // A tone at half scale: a trace in each of the two bands, far from a filled panel.
  EXPECT_GT(white, shot.width());
  EXPECT_LT(white, shot.width() * shot.height() / 2);
  int64_t pts = 0;
  EXPECT_EQ(h.player.CurrentFrame(pts).width(), 0);
  EXPECT_EQ(pts, -1);
}

TEST(Player, FailedOpensLeaveTheReasonAndThePlayerClosed) {
  struct Case {
    std::string file;
    std::string message; // expected at the end of LastErrMsg
  };
  Harness h;
  const Case cases[] = {
      {fixtures::Dir() + "/missing.mp4", "No such file or directory"},
      {fixtures::Path("random.bin"), ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_FALSE(h.player.Open(c.file, &h.host));
    EXPECT_FALSE(h.player.FileOpened());
    EXPECT_FALSE(h.player.LastErrMsg().empty());
    EXPECT_NE(h.player.LastErrMsg().find(c.message), std::string::npos) << h.player.LastErrMsg();
  }
  EXPECT_TRUE(h.states.empty());
  // The player is still usable.
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host)) << h.player.LastErrMsg();
}

TEST(Player, OpenWithoutTheLibrariesFails) {
  App app;
  TFFPlayer player;
  EXPECT_FALSE(player.Open(fixtures::Dir() + "/none.mp4"));
  EXPECT_EQ(player.LastErrMsg(), "libav or libsdl not loaded.");
}

TEST(Player, OpeningAndClosingFiftyTimes) {
  Harness h;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(h.player.Open(fixtures::Path(i % 2 ? "av.mp4" : "tone.wav"), &h.host, i % 3 == 0))
        << i << ": " << h.player.LastErrMsg();
    Harness::Pump(i % 5 * 10);
    h.player.Close(true);
    ASSERT_FALSE(h.player.FileOpened());
  }
  EXPECT_EQ(h.CountState(psStop), 50);
}

TEST(Player, DisablingStreamsAndTheDisplay) {
  struct Case {
    const char *name;
    bool noAudio, noVideo, noDisplay;
    int frameWidth;    // as OnFileOpen reports it
    bool panelWidget;  // the player put a display over the panel
  };
  const Case cases[] = {
      {"sound off: pictures only", true, false, false, 320, true},
      {"pictures off: the sound with its waveform", false, true, false, -1, true},
      {"no display: sound alone, nothing over the panel", false, false, true, -1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    h.player.SetDisableAudio(c.noAudio);
    h.player.SetDisableVideo(c.noVideo);
    h.player.SetDisableDisplay(c.noDisplay);
    ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host)) << h.player.LastErrMsg();
    EXPECT_EQ(h.frameWidth, c.frameWidth);
    ASSERT_TRUE(Harness::WaitFor([&] { return h.lastPosition > 300000; }));
    EXPECT_EQ(!h.host.findChildren<QWidget *>().isEmpty(), c.panelWidget);
    if (c.noDisplay) {
      EXPECT_TRUE(h.player.DisableVideo());
    }
    h.player.Close(true);
    EXPECT_TRUE(h.host.findChildren<QWidget *>().isEmpty()) << "the display outlived the file";
  }
}

TEST(Player, AHandlerMayOpenTheNextFileOrClose) {
  Harness h;
  bool reopened = false, closed = false;
  h.player.OnPosition = [&](TCustomPlayer *p, int64_t pts) {
    h.lastPosition = pts;
    if (!reopened && pts > 200000) {
      reopened = true;
      EXPECT_TRUE(p->Open(fixtures::Path("av.mkv"), &h.host)) << p->LastErrMsg();
    } else if (reopened && !closed && p->Position() > 200000) {
      closed = true;
      p->Close(true);
    }
  };
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host));
  ASSERT_TRUE(Harness::WaitFor([&] { return closed; }, 8000));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.CountState(psStop) == 2; }, 3000));
  const std::vector<TPlayState> expected{psPlay, psStop, psPlay, psStop};
  EXPECT_EQ(h.states, expected);
  EXPECT_FALSE(h.player.FileOpened());
}
