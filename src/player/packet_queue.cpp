// The packet queue between the read thread and one stream's decoder. Markers travel
// in order with the packets so that a seek and the end of input reach the decoder at
// the right point.
#include "player/packet_queue.h"

void PacketQueue::push(TQueuedPacket &&e, int64_t bytes) {
  {
    std::lock_guard<std::mutex> g(lock_);
    items_.push_back(std::move(e));
    size_ += bytes + kNodeOverhead;
  }
  cond_.notify_all();
}

bool PacketQueue::Put(AVPacket *pkt) {
  PacketPtr copy(ff.av_packet_alloc());
  if (!copy || ff.av_packet_ref(copy.get(), pkt) < 0) return false;
  const int64_t bytes = copy->size;
  TQueuedPacket e;
  e.packet = std::move(copy);
  push(std::move(e), bytes);
  return true;
}

void PacketQueue::PutFlush() {
  TQueuedPacket e;
  e.kind = TQueuedPacket::Flush;
  push(std::move(e), 0);
}

void PacketQueue::PutEndOfInput() {
  TQueuedPacket e;
  e.kind = TQueuedPacket::EndOfInput;
  push(std::move(e), 0);
}

int PacketQueue::Get(TQueuedPacket &out, bool block) {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    if (abort_) return -1;
    if (!items_.empty()) {
      out = std::move(items_.front());
      items_.pop_front();
      size_ -= (out.packet ? out.packet->size : 0) + kNodeOverhead;
      return 1;
    }
    if (!block) return 0;
    cond_.wait(g);
  }
}

void PacketQueue::Flush() {
  std::lock_guard<std::mutex> g(lock_);
  items_.clear();
  size_ = 0;
}

void PacketQueue::Abort() {
  {
    std::lock_guard<std::mutex> g(lock_);
    abort_ = true;
  }
  cond_.notify_all();
}

void PacketQueue::Start() {
  std::lock_guard<std::mutex> g(lock_);
  abort_ = false;
}

bool PacketQueue::Aborted() const {
  std::lock_guard<std::mutex> g(lock_);
  return abort_;
}

int PacketQueue::Count() const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<int>(items_.size());
}

int64_t PacketQueue::Size() const {
  std::lock_guard<std::mutex> g(lock_);
  return size_;
}
