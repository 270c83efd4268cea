// A scripted stand-in for the macOS audio engine, under the layer that restarts capture: the
// hardware's configuration changes when the scenario says, and stops the engine unless the
// scenario keeps it running.
#pragma once

#include <memory>

#include "platform/layers/native_engine.h"
#include "platform/scripted/call_log.h"
#include "platform/scripted/delivery.h"
#include "platform/scripted/scenario.h"

namespace quillmate::scripted {

// Makes the scripted native engines of one platform. Every engine made shares the hardware:
// its configuration changes reach the engine made last, start failures are counted across
// engines, and the input's format and buffers are the hardware's at the time.
layers::MakeNativeEngine scriptedNativeEngines(const Scenario& scenario, Delivery delivery,
                                               std::shared_ptr<CallLog> log);

}  // namespace quillmate::scripted
