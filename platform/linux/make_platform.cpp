#include "platform/linux/linux_platform.h"
#include "platform/product.h"

namespace quillmate {

std::unique_ptr<Platform> makeProductPlatform() {
  return std::make_unique<linux_platform::LinuxPlatform>(QUILLMATE_MODEL_ROOT);
}

}  // namespace quillmate
