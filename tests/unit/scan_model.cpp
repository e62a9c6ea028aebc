#include "scan_model.h"

#include <string.h>

#include <algorithm>

#include "exit_status.h"

namespace {

const std::string banner = "*************** Error Found ***************\n";

struct model_entry {
  std::string text;
  bool counts_in_reply;
};

std::vector<model_entry> tables() {
  std::vector<model_entry> entries;
  for (size_t i = 0; i < signature_count; ++i) entries.push_back({error_signatures[i], true});
  for (size_t i = 0; i < client_signature_count; ++i) entries.push_back({client_signatures[i], false});
  return entries;
}

std::vector<model_entry> entries = tables();

bool is_break(char c) { return c == '\n' || c == '\r'; }

// A code from 400 to 999 and a space at line[p], and no transfer statistics after it.
bool opens_reply(const std::string& line, size_t p) {
  auto digit = [](char c, char low) { return c >= low && c <= '9'; };
  if (!(p + 4 <= line.size() && digit(line[p], '4') && digit(line[p + 1], '0') &&
        digit(line[p + 2], '0') && line[p + 3] == ' '))
    return false;
  for (const char* statistics : {"bytes sent in ", "bytes received in "})
    if (line.compare(p + 4, strlen(statistics), statistics) == 0) return false;
  return true;
}

// A reply line can start after a line break, or right after the client's prompt.
bool reply_may_start(const std::string& line, size_t p, char before) {
  return is_break(p == 0 ? before : line[p - 1]) || (p >= 5 && line.compare(p - 5, 5, "ftp> ") == 0);
}

size_t pair_at(const std::string& s, size_t i) {
  return size_t{static_cast<unsigned char>(s[i])} << 8 | static_cast<unsigned char>(s[i + 1]);
}

void move_status(int* status, int kind) {
  if (*status == 0) *status = kind;
}

// The reports of one line (with its line feed, if it has one) after the byte `before`.
std::string model_line(const std::string& line, char before, int* status) {
  std::vector<size_t> replies;
  for (size_t p = 0; p < line.size(); ++p)
    if (reply_may_start(line, p, before) && opens_reply(line, p)) replies.push_back(p);
  const std::string text = line.substr(0, line.find('\0'));
  const std::string before_replies = replies.empty() ? text : text.substr(0, replies[0]);

  // Only a time saver, for the fuzzer: an entry can stand in the line only if its
  // first two bytes do.
  static bool pairs[1 << 16];
  for (size_t i = 0; i + 1 < text.size(); ++i) pairs[pair_at(text, i)] = true;
  std::vector<bool> counts(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) {
    const std::string& where = entries[k].counts_in_reply ? text : before_replies;
    counts[k] = pairs[pair_at(entries[k].text, 0)] && where.find(entries[k].text) != std::string::npos;
  }
  for (size_t i = 0; i + 1 < text.size(); ++i) pairs[pair_at(text, i)] = false;
  std::string out;
  for (size_t k = 0; k < entries.size(); ++k) {
    if (!counts[k]) continue;
    bool inside_another = false;
    for (size_t j = 0; j < entries.size(); ++j)
      inside_another |= counts[j] && entries[j].text.size() > entries[k].text.size() &&
                        entries[j].text.find(entries[k].text) != std::string::npos;
    if (inside_another) continue;
    out += banner + "Error text: " + entries[k].text + "\n";
    move_status(status, status_known_message);
  }
  for (size_t p : replies) {
    out += banner;
    size_t end = line.find_first_of(std::string("\n\0", 2), p);
    // A report shows at most 1010 bytes of the text, so that its line, "Error text: "
    // and line feed and all, fits 1023 bytes.
    if (end != std::string::npos && line[end] == '\n')
      out += "Error text: " + line.substr(p, std::min<size_t>(end - p, 1010)) + "\n";
    move_status(status, status_error_reply);
  }
  return out;
}

}  // namespace

std::vector<std::string> all_patterns() {
  std::vector<std::string> patterns;
  for (const model_entry& entry : tables()) patterns.push_back(entry.text);
  return patterns;
}

std::vector<search_entry> overlapping_entries() {
  static const struct {
    const char* text;
    bool counts_in_reply;
  } texts[] = {
      {"Login failed", true},           // inside two table entries
      {"ftp: Not connected.", true},    // holds one
      {"Permission denied", true},      // a client entry, now counting anywhere
      {"Broken pipe", false},           // the locale's word the same as the English
      {"Keine Berechtigung", false},    // the locale's
      {"Verbindung", true},             // inside the next, which counts only before a reply
      {"Verbindung abgelehnt", false},
      {"Abbruch", true},                // given twice; shorter than the filter's grams
      {"Abbruch", false},
      {"zu!!", true},                   // four bytes
      {"fehl", true},
      {"Ung\xc3\xbcltiger Befehl", true},  // not ASCII
      {"\xc3\x9c" "bertragung abgebrochen", false},
      {"550 Fehler", true},             // looks like a reply
  };
  std::vector<search_entry> overlapping;
  for (const auto& t : texts) overlapping.push_back({t.text, strlen(t.text), t.counts_in_reply});
  return overlapping;
}

void model_entries(const std::vector<search_entry>& extra) {
  entries = tables();
  for (const search_entry& e : extra) {
    std::string text(e.text, e.length);
    auto same = std::find_if(entries.begin(), entries.end(), [&](const model_entry& m) { return m.text == text; });
    if (same == entries.end())
      entries.push_back({text, e.counts_in_reply});
    else
      same->counts_in_reply |= e.counts_in_reply;
  }
}

std::string model_scan(const std::string& piece, char before, int* status) {
  std::string out;
  for (size_t at = 0; at < piece.size();) {
    size_t end = piece.find('\n', at);
    end = end == std::string::npos ? piece.size() : end + 1;
    out += model_line(piece.substr(at, end - at), at == 0 ? before : '\n', status);
    at = end;
  }
  return out;
}

std::string model_stream(const std::string& stream, int* status) {
  // A stream opens as if after a line feed; each line, however long, is one.
  return model_scan(stream, '\n', status);
}

std::vector<std::string> model_transfers(const std::string& stream) {
  std::vector<std::string> transfers;
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t at = 0; at < stream.size();) {
    size_t feed = stream.find('\n', at);
    const std::string line = stream.substr(at, std::min(feed, stream.size()) - at);
    at = feed == std::string::npos ? stream.size() : feed + 1;
    size_t p = 0;
    while (line.compare(p, 5, "ftp> ") == 0) p += 5;
    if (line.compare(p, 5, "ftp: ") == 0) p += 5;
    size_t end = p;
    while (end < line.size() && is_digit(line[end])) ++end;
    bool sent = line.compare(end, 15, " bytes sent in ") == 0;
    bool received = line.compare(end, 19, " bytes received in ") == 0;
    // Within the line's first 4096 bytes, the most the cutter holds of a line at once.
    if (end == p || !(sent || received) || end + (sent ? 15 : 19) > 4096) continue;
    unsigned long long bytes = 0, most = ~0ull;
    for (size_t d = p; d < end; ++d) {
      unsigned digit = static_cast<unsigned>(line[d] - '0');
      bytes = bytes > (most - digit) / 10 ? most : bytes * 10 + digit;
    }
    transfers.push_back((sent ? "sent " : "received ") + std::to_string(bytes));
  }
  return transfers;
}
