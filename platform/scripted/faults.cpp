#include "platform/scripted/faults.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace quillmate::scripted {
namespace {

// Through a pointer the compiler cannot see to be null, so that the store really is made.
int* volatile nowhere = nullptr;

// A real invalid access, as a library's would be; the undefined-behaviour checks would report
// it themselves instead of letting it fault.
__attribute__((no_sanitize("undefined"))) void touchNowhere() { *nowhere = 1; }

}  // namespace

std::optional<Fault::Kind> faultKind(const std::string& name) {
  if (name == "segfault") return Fault::Kind::segfault;
  if (name == "abort") return Fault::Kind::abort;
  if (name == "exit") return Fault::Kind::exit;
  if (name == "throw") return Fault::Kind::throwException;
  if (name == "hang") return Fault::Kind::hang;
  return std::nullopt;
}

void strike(Fault::Kind kind) {
  switch (kind) {
    case Fault::Kind::segfault:
      touchNowhere();
      break;
    case Fault::Kind::abort:
      std::abort();
    case Fault::Kind::exit:
      std::exit(1);  // as a library that gives up on the process does
    case Fault::Kind::throwException:
      throw std::runtime_error("a scripted platform call failed");
    case Fault::Kind::hang:
      for (;;) pause();
  }
}

}  // namespace quillmate::scripted
