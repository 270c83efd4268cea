#include "platform/layers/capture_budget.h"

#include <algorithm>

namespace quillmate::layers {

std::chrono::milliseconds RetryWaits::next() {
  auto now = wait;
  wait = std::min(wait * 2, std::chrono::milliseconds{1000});
  return now;
}

bool RestartWindow::allow(MainQueue::Duration now) {
  while (!recent.empty() && now - recent.front() >= kRestartWindow) recent.pop_front();
  recent.push_back(now);
  return recent.size() <= static_cast<std::size_t>(kMostRestarts);
}

}  // namespace quillmate::layers
