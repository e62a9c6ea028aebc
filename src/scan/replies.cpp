// The reply rule and the statistics lines.
#include "scan/replies.h"

#include <string.h>

namespace {

bool is_break(char c) { return c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char sent[] = " bytes sent in ", received[] = " bytes received in ";

// The length of the statistics phrase at text[0, length) (" bytes sent in " or
// " bytes received in "), or 0 for none; *is_sent tells which.
size_t statistics_phrase(const char* text, size_t length, bool* is_sent) {
  *is_sent = length >= sizeof sent - 1 && memcmp(text, sent, sizeof sent - 1) == 0;
  if (*is_sent) return sizeof sent - 1;
  return length >= sizeof received - 1 && memcmp(text, received, sizeof received - 1) == 0 ? sizeof received - 1 : 0;
}

bool after_prompt(const char* text, size_t at, const char* prompt) {
  return at >= 5 && memcmp(text + at - 5, prompt, 5) == 0;
}

}  // namespace

bool reply_at(const char* text, size_t length, size_t start) {
  if (length - start < 4) return false;
  const char* code = text + start;
  bool sent_phrase;
  return code[0] >= '4' && code[0] <= '9' && is_digit(code[1]) && is_digit(code[2]) && code[3] == ' ' &&
         statistics_phrase(code + 3, length - start - 3, &sent_phrase) == 0;
}

size_t reply_after(const char* text, size_t length, size_t i) {
  if (is_break(text[i])) return reply_at(text, length, i + 1) ? i + 1 : 0;
  if (text[i] == '>' && length - i >= 2 && text[i + 1] == ' ' && after_prompt(text, i + 2, "ftp> ") &&
      reply_at(text, length, i + 2))
    return i + 2;
  return 0;
}

void find_statistics(const char* text, size_t length, char before, size_t fresh, transfer_sink sink) {
  // Each phrase by its 'y', a byte that ordinary output holds few of.
  for (const char* y = text; (y = static_cast<const char*>(memchr(y, 'y', text + length - y))) != nullptr; ++y) {
    size_t space = static_cast<size_t>(y - text) - (y - text >= 2 ? 2 : 0);
    bool is_sent;
    size_t phrase = y - text >= 2 ? statistics_phrase(text + space, length - space, &is_sent) : 0;
    if (phrase == 0 || space + phrase <= fresh) continue;
    size_t start = space;
    while (start > 0 && is_digit(text[start - 1])) --start;
    bool opens = start == 0 ? is_break(before)
                            : is_break(text[start - 1]) || after_prompt(text, start, "ftp> ") ||
                                  after_prompt(text, start, "ftp: ");
    if (start == space || !opens) continue;
    unsigned long long bytes = 0;
    for (size_t d = start; d < space; ++d)
      bytes = bytes > 1844674407370955160ull ? bytes : bytes * 10 + static_cast<unsigned>(text[d] - '0');
    sink(is_sent, bytes);
  }
}
