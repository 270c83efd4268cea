#include <cstdlib>

#include "platform/linux/channel_estimate.h"
#include "platform/linux/linux_platform.h"
#include "platform/product.h"

namespace quillmate {

std::unique_ptr<Platform> makeProductPlatform(MainQueue&) {
  return std::make_unique<linux_platform::LinuxPlatform>(
      linux_platform::ModelSearch::fromEnvironment(std::getenv, QUILLMATE_MODEL_ROOT),
      linux_platform::stateFolder(std::getenv));
}

}  // namespace quillmate
