// quillmate-dictate-scripted: the helper's own process entry on the scripted platform, for
// tests. QUILLMATE_SCENARIO names the scenario file; QUILLMATE_CALL_LOG, if set, the file that
// receives every platform call. A bad scenario is the test harness's fault: it is reported on
// standard error with exit status 2.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/final_line_guard.h"
#include "app/process.h"
#include "platform/product.h"
#include "platform/scripted/scripted_platform.h"

namespace {

[[noreturn]] void harnessError(const std::string& what) {
  std::fprintf(stderr, "quillmate-dictate-scripted: %s\n", what.c_str());
  std::exit(2);
}

quillmate::scripted::Scenario loadScenario() {
  const char* path = std::getenv("QUILLMATE_SCENARIO");
  if (!path) return {};
  std::ifstream file(path);
  if (!file) harnessError(std::string("cannot read scenario file ") + path);
  std::stringstream text;
  text << file.rdbuf();
  auto parsed = quillmate::scripted::parseScenario(text.str());
  if (auto* problem = std::get_if<std::string>(&parsed)) harnessError(*problem);
  return std::get<quillmate::scripted::Scenario>(parsed);
}

}  // namespace

int main(int argc, char** argv) {
  quillmate::openStandardDescriptors();
  using namespace quillmate;
  scripted::Scenario scenario = loadScenario();
  silenceStandardError();  // after the harness's own complaints, which go to standard error
  std::optional<std::string> logPath;
  if (const char* path = std::getenv("QUILLMATE_CALL_LOG")) logPath = path;
  ProcessSettings settings;
  if (scenario.cap) settings.sessionCap = *scenario.cap;
  if (scenario.grace) settings.gracePeriod = *scenario.grace;
  MainQueue* mainQueue = makeMainQueue().release();
  auto* platform =
      new scripted::ScriptedPlatform(scenario, scripted::realTimeDelivery(), *mainQueue,
                                     std::make_shared<scripted::CallLog>(logPath));
  runProcess(argc, argv, *platform, *mainQueue, settings);
}
