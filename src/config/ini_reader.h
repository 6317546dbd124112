#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quaderix {

// The growable list of 32-bit integers that ReadIntList fills.
class IntArray {
 public:
  int32_t size() const { return static_cast<int32_t>(values_.size()); }
  bool empty() const { return values_.empty(); }
  int32_t operator[](int32_t i) const { return values_[static_cast<size_t>(i)]; }
  void clear() { values_.clear(); }
  void push_back(int32_t v) { values_.push_back(v); }
  const std::vector<int32_t>& values() const { return values_; }

 private:
  std::vector<int32_t> values_;
};

// Longest value text a lookup returns; longer values are cut to this many characters.
inline constexpr size_t kMaxValueLength = 1023;

// Looks up `key` in `section` of the INI file at `path`. Section and key names compare
// without regard to case; the first match wins. The value is trimmed of blanks, one pair
// of enclosing quotes is removed, and it is cut at kMaxValueLength characters. Returns the
// empty string when the file, section or key is missing or the value is empty.
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key);

// Parses a number the way scanf's "%i" does: leading white space, an optional sign, then
// hexadecimal after 0x, octal after a leading 0, decimal otherwise; stops at the first
// character that does not belong to the number. Returns false when no digit was read.
// Values beyond 32 bits wrap modulo 2^32 (never undefined behaviour).
bool ParseInteger(const char* text, int32_t& value);

// A key line whose value holds a semicolon. Values keep everything after the equals
// sign, so a comment written behind a value becomes part of it; front ends warn about it.
struct CommentedValue {
  std::string section;
  std::string key;
  std::string value;
};
std::vector<CommentedValue> FindCommentedValues(const std::string& path);

// Reads single values from one INI file. An IniReader only remembers the path: every
// lookup opens and scans the file afresh, so readers on different threads never share
// state and a file edited between two reads is seen as it is now.
class IniReader {
 public:
  explicit IniReader(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Each returns 1 when the key holds a non-empty value and 0 otherwise; on 0 the
  // output is untouched.
  int ReadString(const std::string& section, const std::string& key, std::string& out) const;
  // A value that holds no number still returns 1 and leaves `out` as it was, so callers
  // apply their defaults only for missing keys.
  int ReadInt(const std::string& section, const std::string& key, int32_t& out) const;
  // Comma-separated numbers. A piece that holds no number (an empty piece, a trailing
  // comma, text) is stored as 0, so the list length always equals the comma count + 1.
  int ReadIntList(const std::string& section, const std::string& key, IntArray& out) const;

 private:
  std::string path_;
};

}  // namespace quaderix
