// A blocking queue of demuxed packets for one stream, with the flush marker and the
// end-of-input marker. It neither reads nor decodes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "media/ffapi.h"
#include "media/ffowners.h"

using PacketPtr = TPacketPtr;

// One entry: a packet, or a marker. The flush marker tells the decoder to drop what it
// holds (first entry of every queue and first after every seek); the end marker asks
// it to hand out its delayed pictures.
struct TQueuedPacket {
  enum Kind { Data, Flush, EndOfInput };
  Kind kind = Data;
  PacketPtr packet;
};

class PacketQueue {
public:
  // Byte size counts a fixed overhead per entry so that a flood of tiny packets also
  // reaches the buffering limit.
  static constexpr int kNodeOverhead = 72;

  // Takes a reference to the packet's data (the caller keeps its own).
  bool Put(AVPacket *pkt);
  void PutFlush();
  void PutEndOfInput();
  // 1 with an entry, 0 when empty and not blocking, -1 when aborted.
  int Get(TQueuedPacket &out, bool block);
  void Flush();
  void Abort();
  // Reopens an aborted queue (a stream opened again).
  void Start();
  bool Aborted() const;
  int Count() const;
  int64_t Size() const;

private:
  void push(TQueuedPacket &&e, int64_t bytes);

  mutable std::mutex lock_;
  std::condition_variable cond_;
  std::deque<TQueuedPacket> items_;
  int64_t size_ = 0;
  bool abort_ = false;
};
