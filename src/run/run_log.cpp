#include "run/run_log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quaderix {
namespace {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

}  // namespace

void RunLog::AppendLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string added = FormatV(format, args);
  va_end(args);
  added += "\r\n";
  added += kPrompt;
  Add(added);
}

void RunLog::AppendLogText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string added = FormatV(format, args);
  va_end(args);
  Add(added);
}

void RunLog::AppendLine(const std::string& text) {
  Add(text + "\r\n" + kPrompt);
}

void RunLog::AppendRaw(const std::string& text) {
  Add(text);
}

void RunLog::Add(const std::string& added) {
  text_ += added;
  if (listener_) listener_(added);
}

}  // namespace quaderix
