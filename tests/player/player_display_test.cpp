// Where the picture lands in the host panel: the aspect rules and the centring, read
// back from the panel itself.
#include <QImage>
#include <QPixmap>

#include "player_support.h"

using namespace playertest;

namespace {

bool isBlack(QRgb c) { return qGray(c) < 40; }
bool isWhite(QRgb c) { return qGray(c) > 200; }

} // namespace

TEST(PlayerDisplay, AspectRulesPlaceAndCentreThePicture) {
  struct Case {
    float aspect;
    QRect area; // in the 243 x 171 panel, for a 320 x 240 picture with square pixels
  };
  const Case cases[] = {
      {0, QRect(7, 0, 228, 171)},    // the picture's own 4:3, full height
      {-1, QRect(0, 0, 243, 171)},   // fills the panel
      {2.0f, QRect(0, 24, 243, 122)}, // wider than the panel: full width, centred down
      {1.0f, QRect(36, 0, 170, 171)},
  };
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host, true));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.State() == psPause; }));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.aspect);
    h.player.SetAspectRatio(c.aspect);
    Harness::Pump(250);
    const QImage shot = h.host.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(kPanelWidth, kPanelHeight));
    // The white bar and the white square run down the picture's left side.
    const int x = c.area.left() + 20;
    EXPECT_TRUE(isWhite(shot.pixel(x, c.area.top() + 3)));
    EXPECT_TRUE(isWhite(shot.pixel(x, c.area.bottom() - 3)));
    EXPECT_TRUE(isWhite(shot.pixel(c.area.left() + 2, c.area.top() + 20)));
    if (c.area.left() > 2) {
      EXPECT_TRUE(isBlack(shot.pixel(c.area.left() - 3, c.area.top() + 20)));
    }
    if (c.area.top() > 2) {
      EXPECT_TRUE(isBlack(shot.pixel(x, c.area.top() - 3)));
      EXPECT_TRUE(isBlack(shot.pixel(x, c.area.bottom() + 3)));
    }
  }
}

TEST(PlayerDisplay, ThePictureFollowsTheHostPanelsSize) {
  Harness h;
  ASSERT_TRUE(h.player.Open(fixtures::Path("av.mp4"), &h.host, true));
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.State() == psPause; }));
  h.host.resize(400, 150);
  ASSERT_TRUE(Harness::WaitFor([&] { return h.player.ScreenWidth() == 400; }, 3000));
  Harness::Pump(200);
  EXPECT_EQ(h.player.ScreenHeight(), 150);
  // 4:3 at the full height of 150 is 200 wide, centred in 400.
  const QImage shot = h.host.grab().toImage();
  EXPECT_TRUE(isBlack(shot.pixel(97, 20)));
  EXPECT_TRUE(isWhite(shot.pixel(103, 20)));
  EXPECT_TRUE(isBlack(shot.pixel(303, 20))); // the black bar on the right, then black
}
