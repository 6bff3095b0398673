#include "tools/pabx-sim/Latin1.h"

namespace pabxsim {

std::string ToLatin1(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    size_t len = (c >= 0xF0) ? 4 : (c >= 0xE0) ? 3 : (c >= 0xC0) ? 2 : 1;
    if (len == 1 || i + len > s.size()) {
      out.push_back('?');
      ++i;
      continue;
    }
    unsigned cp = c & (0xFF >> (len + 1));
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    i += len;
  }
  return out;
}

std::string FromLatin1(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace pabxsim
