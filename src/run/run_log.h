#pragma once

#include <functional>
#include <string>

namespace quaderix {

inline constexpr const char* kPrompt = "::> ";

// The window's log: one growing text in which every line ends with "\r\n" followed by the
// prompt "::> ". Shared by the window and the command line; used only on the front end's
// own thread. A listener learns of every append so a front end can mirror it.
class RunLog {
 public:
  // Called after each append with exactly the text that was added.
  using Listener = std::function<void(const std::string& added)>;

  RunLog() : text_(kPrompt) {}

  // Formats like printf, then appends the text, "\r\n" and the prompt.
  void AppendLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Formats like printf and appends the text alone, with no line end and no prompt.
  void AppendLogText(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Worker texts: appended unchanged, never used as a format.
  void AppendLine(const std::string& text);
  void AppendRaw(const std::string& text);

  void Reset() { text_ = kPrompt; }
  const std::string& text() const { return text_; }
  void SetListener(Listener listener) { listener_ = std::move(listener); }

 private:
  void Add(const std::string& added);

  std::string text_;
  Listener listener_;
};

}  // namespace quaderix
