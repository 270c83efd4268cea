// A fixed ring of 16-bit samples between one producer (the audio thread) and one consumer (the
// decoder): neither side allocates or waits. The storage is allocated once, up front.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillmate::linux_platform {

class SampleRing {
 public:
  explicit SampleRing(std::size_t capacity)
      // Left uninitialised, so that only the pages audio reaches become resident.
      : capacity(capacity), samples(new int16_t[capacity]) {}

  // Producer only. Keeps what fits. The one ring of a request holds more than a session can
  // capture before its cap, so nothing is ever left out in practice.
  void push(const int16_t* from, std::size_t count) {
    std::size_t tail = written.load(std::memory_order_relaxed);
    std::size_t free = capacity - (tail - read.load(std::memory_order_acquire));
    std::size_t kept = count < free ? count : free;
    for (std::size_t i = 0; i < kept; ++i) samples[(tail + i) % capacity] = from[i];
    written.store(tail + kept, std::memory_order_release);
  }

  // Consumer only. Gives up to `most` samples, oldest first.
  std::size_t pop(int16_t* to, std::size_t most) {
    std::size_t head = read.load(std::memory_order_relaxed);
    std::size_t available = written.load(std::memory_order_acquire) - head;
    std::size_t taken = available < most ? available : most;
    for (std::size_t i = 0; i < taken; ++i) to[i] = samples[(head + i) % capacity];
    read.store(head + taken, std::memory_order_release);
    return taken;
  }

  // Samples pushed and not yet popped; from any thread, as of some moment during the call.
  std::size_t size() const {
    std::size_t head = read.load(std::memory_order_acquire);
    return written.load(std::memory_order_acquire) - head;
  }

 private:
  const std::size_t capacity;
  std::unique_ptr<int16_t[]> samples;
  std::atomic<std::size_t> written{0};
  std::atomic<std::size_t> read{0};
};

}  // namespace quillmate::linux_platform
