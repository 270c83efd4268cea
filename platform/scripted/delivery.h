// How a scripted platform calls back: later, and from a thread other than the main thread.
#pragma once

#include <chrono>
#include <functional>

namespace quillmate::scripted {

class VirtualMainQueue;

// Calls `call` once `delay` has passed, on a thread that is not the main thread.
using Delivery = std::function<void(std::chrono::milliseconds delay, std::function<void()> call)>;

// Real time: one platform thread calls back in deadline order, ties in the order scheduled.
// The thread lives as long as the process.
Delivery realTimeDelivery();

// Virtual time: at the deadline on `queue`, a fresh thread makes the call and is joined, so the
// call is complete, and what it posted is queued, before the queue moves on.
Delivery virtualDelivery(VirtualMainQueue& queue);

}  // namespace quillmate::scripted
