// The words of one native recognition task, kept across the pauses within it.
//
// At a pause, some recognizers close the stretch of speech before it (on macOS, the result that
// carries speech metadata) and go on in the same task with results that hold only the words said
// after the pause; others keep their text and go on adding to it. This keeps every closed
// utterance and the open one, so that a pause never takes words away and none is written twice.
#pragma once

#include <string>
#include <string_view>

namespace quillmate::layers {

class SegmentText {
 public:
  // One result of the task, partial or final.
  void take(std::string_view transcript, bool closesUtterance);
  // The closed utterances, then the open one, joined as segments are.
  std::string text() const;
  bool empty() const { return closed.empty() && open.empty(); }

 private:
  std::string closed;  // every closed utterance, joined
  std::string open;    // the latest words since the last close
};

}  // namespace quillmate::layers
