// The ways a platform call can fail beyond returning an error, as a scenario plays them: the
// call crashes, aborts, exits, throws or never returns, on the thread it runs on.
#pragma once

#include <optional>
#include <string>

namespace quillmate::scripted {

struct Fault {
  enum class Kind { segfault, abort, exit, throwException, hang };
  std::string in;  // an operation as the call log names it, or "result" for a result's delivery
  Kind kind = Kind::segfault;
};

// The kind named in a scenario ("segfault", "abort", "exit", "throw", "hang"), if it is one.
std::optional<Fault::Kind> faultKind(const std::string& name);

// Fails in the way `kind` says, on the calling thread. Returns only for no kind at all.
void strike(Fault::Kind kind);

}  // namespace quillmate::scripted
