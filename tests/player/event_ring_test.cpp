// The event ring between the engine and the event thread: runs of one kind collapse to
// their newest entry, and a full ring gives up its oldest.
#include <gtest/gtest.h>

#include <vector>

#include "player/event_ring.h"

namespace {

PlayerEvent pos(int64_t t) { return {pekPosition, psPlay, t}; }
PlayerEvent state(TPlayState s) { return {pekState, s, 0}; }

std::vector<PlayerEvent> drain(TPlayerEventRing &ring) {
  std::vector<PlayerEvent> out;
  PlayerEvent e;
  while (ring.Take(e)) out.push_back(e);
  return out;
}

struct RingCase {
  const char *name;
  std::vector<PlayerEvent> added;
  std::vector<PlayerEvent> taken;
};

TEST(EventRing, CollapsesRunsAndLosesTheOldestWhenFull) {
  std::vector<PlayerEvent> alternating, lastNine;
  for (int i = 0; i < 12; ++i) alternating.push_back(i % 2 ? state(psPause) : pos(i));
  // Ten slots hold nine entries: equal indexes mean empty.
  for (int i = 3; i < 12; ++i) lastNine.push_back(alternating[i]);
  const RingCase cases[] = {
      {"a burst of positions keeps the newest", {pos(1), pos(2), pos(3)}, {pos(3)}},
      {"consecutive states keep the newest", {state(psPlay), state(psPause)}, {state(psPause)}},
      {"kinds in turn are all kept",
       {pos(1), state(psPause), pos(2)},
       {pos(1), state(psPause), pos(2)}},
      {"a full ring loses its oldest", alternating, lastNine},
      {"the stop of one file is not lost to the start of the next",
       {state(psEnd), state(psStop), state(psPlay), state(psPause)},
       {state(psStop), state(psPause)}},
  };
  for (const RingCase &c : cases) {
    SCOPED_TRACE(c.name);
    TPlayerEventRing ring;
    for (const PlayerEvent &e : c.added) ring.Add(e);
    const auto got = drain(ring);
    ASSERT_EQ(got.size(), c.taken.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Kind, c.taken[i].Kind) << i;
      EXPECT_EQ(got[i].State, c.taken[i].State) << i;
      EXPECT_EQ(got[i].Time, c.taken[i].Time) << i;
    }
  }
}

TEST(EventRing, AnEntryTakenIsNotCollapsedIntoByTheNext) {
  TPlayerEventRing ring;
  ring.Add(pos(1));
  PlayerEvent e;
  ASSERT_TRUE(ring.Take(e));
  ring.Add(pos(2));
  const auto got = drain(ring);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Time, 2);
}

} // namespace
