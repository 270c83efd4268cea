// quillmate-dictate: on-device dictation for the Quillmate host, reported as status lines.
#include "app/final_line_guard.h"
#include "app/process.h"
#include "platform/product.h"

int main(int argc, char** argv) {
  quillmate::openStandardDescriptors();
  quillmate::silenceStandardError();
  // Both live as long as the process, which ends only by exiting from the main queue.
  quillmate::MainQueue* mainQueue = quillmate::makeMainQueue().release();
  quillmate::Platform* platform = quillmate::makeProductPlatform(*mainQueue).release();
  quillmate::runProcess(argc, argv, *platform, *mainQueue);
}
