// Closing a player whose read thread is stuck inside a read of the input: the waiting
// side gives up asking the play thread and closes the file itself once the read returns.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <atomic>
#include <filesystem>
#include <thread>

#include "media/logger.h"
#include "player_support.h"

using namespace playertest;

TEST(PlayerClose, AReadStuckInTheInputEndsThroughTheForcedTeardown) {
  Harness h;
  QFile source(QString::fromStdString(fixtures::Path("av.ts")));
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray whole = source.readAll();
  const std::string fifo = (std::filesystem::temp_directory_path() /
                            ("marlo-stalled-" + std::to_string(getpid()) + ".ts"))
                               .string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::atomic<bool> forced{false};
  FFLogger().SetTriggerEventInMainThread(false);
  FFLogger().SetLogLevel(llDebug);
  FFLogger().SetOnLog([&](const void *sender, uint32_t, TLogLevel, const std::string &msg) {
    if (sender == &h.player && msg.find("closing the file from the waiting thread") == 0)
      forced = true;
  });

  // A source that sends most of the file, then goes quiet until the player has given
  // up on its play thread (or, failing that, for long enough to fail the test).
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    const qint64 part = whole.size() * 3 / 4;
    for (qint64 done = 0; done < part;) {
      const ssize_t n = write(fd, whole.constData() + done, size_t(part - done));
      if (n <= 0) break;
      done += n;
    }
    for (int i = 0; i < 150 && !forced; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(fd);
  });

  const bool opened = h.player.Open(fifo, &h.host);
  if (opened) {
    Harness::Pump(800); // plays what arrived, then the read thread waits in the pipe
    h.player.Close(true);
  }
  writer.join();
  FFLogger().SetOnLog(nullptr);
  std::filesystem::remove(fifo);
  ASSERT_TRUE(opened) << h.player.LastErrMsg();
  EXPECT_TRUE(forced.load());
  EXPECT_FALSE(h.player.FileOpened());
  EXPECT_EQ(h.player.State(), psStop);
  ASSERT_FALSE(h.states.empty());
  EXPECT_EQ(h.states.back(), psStop);
}
