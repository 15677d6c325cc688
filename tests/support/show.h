// Shows bytes of tov's output in a test report: line ends and other control
// bytes as escapes, so that a missing CR or a stray byte is visible.
#pragma once
#include <cstdio>
#include <string>

inline std::string Show(const std::string& s, size_t max = std::string::npos) {
  std::string r;
  for (unsigned char c : s.substr(0, max)) {
    if (c == '\r') {
      r += "\\r";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char t[8];
      snprintf(t, sizeof t, "\\x%02X", c);
      r += t;
    } else {
      r += char(c);
    }
  }
  if (s.size() > max) r += "...";
  return r;
}
