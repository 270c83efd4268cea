// quillmate-dictate: on-device dictation for the Quillmate host, reported as status lines.
#include "app/process.h"
#include "platform/asio/asio_main_queue.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  // Both live as long as the process, which ends only by exiting from the main queue.
  auto* platform = new quillmate::linux_platform::LinuxPlatform(QUILLMATE_MODEL_ROOT);
  auto* mainQueue = new quillmate::AsioMainQueue();
  quillmate::runProcess(argc, argv, *platform, *mainQueue);
}
