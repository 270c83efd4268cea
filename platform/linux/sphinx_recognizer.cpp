#include "platform/linux/sphinx_recognizer.h"

#include <thread>
#include <utility>

#include "platform/linux/channel_estimate.h"
#include "platform/linux/model_load.h"
#include "platform/linux/sphinx_worker.h"

namespace quillmate::linux_platform {
namespace {

class SphinxTask final : public RecognitionTask {
 public:
  explicit SphinxTask(std::shared_ptr<Recognition> recognition)
      : recognition(std::move(recognition)) {}
  // The worker sees this before its next step and stops without another call of the handler.
  void cancel() override {
    recognition->cancelled = true;
    recognition->request->feed.wake();
  }

 private:
  std::shared_ptr<Recognition> recognition;
};

class SphinxRecognizer final : public SpeechRecognizer {
 public:
  // The model's files are checked once, at process start; the start-up check reads the answer.
  SphinxRecognizer(ModelFiles model, std::optional<std::string> stateFolder, Formatter format)
      : model(std::move(model)), available(this->model.readable()), format(format) {
    if (!available) return;
    if (stateFolder)
      estimates = std::make_shared<EstimateStore>(*stateFolder, modelKey(this->model));
    preload = ModelLoad::start(this->model, estimates);
  }

  bool isAvailable() override { return available; }
  bool supportsOnDeviceRecognition() override { return true; }  // nothing leaves the machine

  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    auto recognition = std::make_shared<Recognition>();
    // Only this platform's own requests reach its recognizer.
    recognition->request = std::static_pointer_cast<SphinxRequest>(std::move(request));
    recognition->handler = std::move(handler);
    recognition->load = preload ? std::move(preload) : ModelLoad::start(model, estimates);
    recognition->estimates = estimates;
    recognition->format = format;
    preload.reset();
    std::thread(decode, recognition).detach();
    return std::make_shared<SphinxTask>(recognition);
  }

 private:
  ModelFiles model;
  const bool available;
  const Formatter format;
  std::shared_ptr<const EstimateStore> estimates;  // none: nothing is kept
  std::shared_ptr<ModelLoad> preload;
};

}  // namespace

std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(ModelFiles model,
                                                       std::optional<std::string> stateFolder,
                                                       Formatter format) {
  return std::make_shared<SphinxRecognizer>(std::move(model), std::move(stateFolder), format);
}

std::shared_ptr<SphinxRequest> makeSphinxRequest() { return std::make_shared<SphinxRequest>(); }

}  // namespace quillmate::linux_platform
