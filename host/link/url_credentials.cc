#include "host/link/url_credentials.h"

namespace {

constexpr char kSchemeEnd[] = "://";
constexpr char kHidden[] = "***";

// Where a URL's authority may end: the user information reaches at most up to the last "@" before
// it. A password with an unescaped "/" or "?" is hidden too: only blanks and quotes end the search.
bool EndsUrl(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\''; }

}  // namespace

std::string HideUrlCredentials(const std::string& text) {
  std::string shown;
  size_t from = 0;
  for (;;) {
    const size_t scheme = text.find(kSchemeEnd, from);
    if (scheme == std::string::npos) break;
    const size_t start = scheme + sizeof kSchemeEnd - 1;
    size_t end = start;
    while (end < text.size() && !EndsUrl(text[end])) ++end;
    const size_t at = text.rfind('@', end == start ? start : end - 1);
    shown.append(text, from, start - from);
    if (at != std::string::npos && at >= start) {
      shown += kHidden;
      from = at;  // the "@" and the host follow
    } else {
      from = start;
    }
  }
  shown.append(text, from, std::string::npos);
  return shown;
}
