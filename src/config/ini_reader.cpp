#include "config/ini_reader.h"

#include <cctype>
#include <fstream>
#include <string_view>

namespace quaderix {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key) {
  if (path.empty()) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  bool inSection = false;
  bool sectionSeen = false;
  std::string line;
  bool firstLine = true;
  while (std::getline(in, line)) {
    std::string_view text = line;
    // Editors on some systems start a UTF-8 file with a byte-order mark; it is not part
    // of the first section's name.
    if (firstLine && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    firstLine = false;
    text = Trim(text);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      // Only the first section of a name counts; a later one of the same name is ignored.
      if (inSection) return {};
      size_t close = text.find(']');
      if (close == std::string_view::npos) continue;
      if (!sectionSeen && EqualsNoCase(Trim(text.substr(1, close - 1)), section)) {
        inSection = true;
        sectionSeen = true;
      }
      continue;
    }
    if (!inSection) continue;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsNoCase(Trim(text.substr(0, eq)), key)) continue;
    std::string_view value = Trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
    return std::string(value);
  }
  return {};
}

std::vector<CommentedValue> FindCommentedValues(const std::string& path) {
  std::vector<CommentedValue> found;
  std::ifstream in(path, std::ios::binary);
  std::string section;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      const size_t close = text.find(']');
      if (close != std::string_view::npos) section = Trim(text.substr(1, close - 1));
      continue;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view value = Trim(text.substr(eq + 1));
    if (value.find(';') != std::string_view::npos)
      found.push_back({section, std::string(Trim(text.substr(0, eq))), std::string(value)});
  }
  return found;
}

bool ParseInteger(const char* text, int32_t& value) {
  const char* p = text;
  while (*p != '\0' && IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int base = 10;
  bool digits = false;
  if (p[0] == '0') {
    // A lone leading 0 is already a number, even when "x" follows without hex digits.
    digits = true;
    if ((p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
      base = 16;
      p += 2;
    } else {
      base = 8;
      ++p;
    }
  }
  uint32_t magnitude = 0;
  while (DigitValue(*p) < base) {
    magnitude = magnitude * static_cast<uint32_t>(base) + static_cast<uint32_t>(DigitValue(*p));
    digits = true;
    ++p;
  }
  if (!digits) return false;
  if (negative) magnitude = 0u - magnitude;
  value = static_cast<int32_t>(magnitude);
  return true;
}

int IniReader::ReadString(const std::string& section, const std::string& key,
                          std::string& out) const {
  std::string value = GetProfileString(path_, section, key);
  if (value.empty()) return 0;
  out = std::move(value);
  return 1;
}

int IniReader::ReadInt(const std::string& section, const std::string& key, int32_t& out) const {
  std::string value = GetProfileString(path_, section, key);
  if (value.empty()) return 0;
  ParseInteger(value.c_str(), out);
  return 1;
}

int IniReader::ReadIntList(const std::string& section, const std::string& key,
                           IntArray& out) const {
  std::string value = GetProfileString(path_, section, key);
  if (value.empty()) return 0;
  out.clear();
  size_t start = 0;
  while (true) {
    size_t comma = value.find(',', start);
    std::string piece =
        value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int32_t number = 0;
    ParseInteger(piece.c_str(), number);
    out.push_back(number);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return 1;
}

}  // namespace quaderix
