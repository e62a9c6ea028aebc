#include "command_line_split.h"

namespace {

bool is_blank(os_char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<os_string> split_command_line(const os_string& line) {
  std::vector<os_string> words;
  size_t p = 0;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    if (close == os_string::npos) return words;
    words.push_back(line.substr(1, close - 1));
    p = close + 1;
  } else {
    while (p < line.size() && !is_blank(line[p])) ++p;
    words.push_back(line.substr(0, p));
  }
  for (;;) {
    while (p < line.size() && is_blank(line[p])) ++p;
    if (p == line.size()) return words;
    os_string word;
    bool quoting = false;
    while (p < line.size() && (quoting || !is_blank(line[p]))) {
      size_t backslashes = 0;
      for (; p < line.size() && line[p] == '\\'; ++p) ++backslashes;
      if (p < line.size() && line[p] == '"') {
        word.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1)
          word += '"';
        else
          quoting = !quoting;
        ++p;
        continue;
      }
      word.append(backslashes, '\\');
      if (p < line.size() && (quoting || !is_blank(line[p]))) word += line[p++];
    }
    words.push_back(word);
  }
}
