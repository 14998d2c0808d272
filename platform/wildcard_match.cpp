#include "platform/wildcard_match.h"

namespace kel {
namespace {

bool SameChar(char a, char b, bool caseSensitive) {
  if (a == b) return true;
  if (caseSensitive) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, bool caseSensitive) {
  // Greedy scan that remembers only the last '*': on a mismatch the star
  // takes one more character. One remembered star is enough because any
  // earlier star could only take characters the last one can take as well.
  size_t p = 0, n = 0;
  size_t starAt = std::string_view::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || SameChar(pattern[p], name[n], caseSensitive))) {
      ++p;
      ++n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace kel
