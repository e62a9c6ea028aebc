// Signature and reply-line passes over pieces of client output, and their reports.
#include "scan.h"

#include <stdint.h>
#include <string.h>

#include "../handles.h"
#include "../platform/platform.h"

int exit_status = 0;

namespace {

const char report_banner[] = "*************** Error Found ***************\n";
const char report_text_format[] = "Error text: %s\n";

enum { max_patterns = 128, gram_bits = 12, gram_buckets = 1 << gram_bits, sample_step = 4 };

// The signature search samples every fourth position of the text. Any pattern of at
// least 7 bytes that occurs there covers a sampled position within its first four
// bytes, with the four bytes from it inside the pattern. So a table of each pattern's
// first four 4-byte grams finds every occurrence, and almost nothing else.
struct pattern_index {
  bool built;
  size_t pattern_count;
  const char* text[max_patterns];
  size_t length[max_patterns];
  uint64_t gram_filter[gram_buckets / 64];
  uint16_t bucket_start[gram_buckets + 1];
  // Each candidate: pattern number times sample_step plus the gram's offset in it.
  uint16_t candidate[max_patterns * sample_step];
  uint32_t candidate_gram[max_patterns * sample_step];
};
pattern_index index;

uint32_t load_gram(const char* bytes) {
  uint32_t gram;
  memcpy(&gram, bytes, sizeof gram);
  return gram;
}

uint32_t gram_bucket(uint32_t gram) { return (gram * 2654435761u) >> (32 - gram_bits); }

void build_index() {
  size_t count = 0;
  for (size_t e = 0; e < signature_count; ++e) index.text[count++] = error_signatures[e];
  for (size_t e = 0; e < client_signature_count && count < max_patterns; ++e)
    index.text[count++] = client_signatures[e];
  index.pattern_count = count;

  uint16_t bucket_size[gram_buckets] = {};
  for (size_t p = 0; p < count; ++p) {
    index.length[p] = strlen(index.text[p]);
    for (size_t o = 0; o < sample_step; ++o)
      ++bucket_size[gram_bucket(load_gram(index.text[p] + o))];
  }
  uint16_t next = 0;
  for (size_t b = 0; b < gram_buckets; ++b) {
    index.bucket_start[b] = next;
    next = static_cast<uint16_t>(next + bucket_size[b]);
    if (bucket_size[b] != 0) index.gram_filter[b / 64] |= uint64_t{1} << (b % 64);
  }
  index.bucket_start[gram_buckets] = next;
  uint16_t filled[gram_buckets] = {};
  for (size_t p = 0; p < count; ++p) {
    for (size_t o = 0; o < sample_step; ++o) {
      uint32_t gram = load_gram(index.text[p] + o);
      uint32_t b = gram_bucket(gram);
      size_t slot = index.bucket_start[b] + filled[b]++;
      index.candidate[slot] = static_cast<uint16_t>(p * sample_step + o);
      index.candidate_gram[slot] = gram;
    }
  }
  index.built = true;
}

// Marks in `found` every pattern that occurs in text[0, length).
void find_patterns(const char* text, size_t length, uint64_t found[2]) {
  if (length < sample_step) return;
  for (size_t q = 0; q + sample_step <= length; q += sample_step) {
    uint32_t gram = load_gram(text + q);
    uint32_t b = gram_bucket(gram);
    if ((index.gram_filter[b / 64] >> (b % 64) & 1) == 0) continue;
    for (size_t c = index.bucket_start[b]; c < index.bucket_start[b + 1]; ++c) {
      if (index.candidate_gram[c] != gram) continue;
      size_t p = index.candidate[c] / sample_step;
      size_t offset = index.candidate[c] % sample_step;
      if (offset > q || q - offset + index.length[p] > length) continue;
      if (memcmp(text + q - offset, index.text[p], index.length[p]) == 0)
        found[p / 64] |= uint64_t{1} << (p % 64);
    }
  }
}

void write_line(const char* format, const char* text) {
  char line[line_buffer_size];
  size_t length = format_line(line, format, text);
  write_handle(saved_stdout, line, length);
}

void record(int status) {
  if (exit_status == 0) exit_status = status;
}

bool is_break(unsigned char c) { return c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// A reply line starts at `code`: a code from 400 to 999 and a space.
bool opens_reply(const char* code) {
  return code[0] >= '4' && code[0] <= '9' && is_digit(static_cast<unsigned char>(code[1])) &&
         is_digit(static_cast<unsigned char>(code[2])) && code[3] == ' ';
}

// Reports the reply line that starts at text[start]: its text runs to the first line
// feed, which must come before the piece's end and any zero byte.
void report_reply(const char* text, size_t length, size_t start) {
  write_line(report_banner, "");
  size_t end = start + 4;
  while (end < length && text[end] != '\n' && text[end] != '\0') ++end;
  if (end < length && text[end] == '\n') {
    char reply[line_buffer_size];
    size_t kept = end - start < sizeof reply - 1 ? end - start : sizeof reply - 1;
    memcpy(reply, text + start, kept);
    reply[kept] = '\0';
    write_line(report_text_format, reply);
  }
  record(3);
}

void signature_pass(const char* text, size_t length) {
  if (!index.built) build_index();
  const void* zero = memchr(text, '\0', length);
  size_t searched = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : length;
  uint64_t found[2] = {0, 0};
  find_patterns(text, searched, found);
  for (size_t p = 0; p < index.pattern_count; ++p) {
    if ((found[p / 64] >> (p % 64) & 1) == 0) continue;
    write_line(report_banner, "");
    write_line(report_text_format, index.text[p]);
    record(2);
  }
}

void reply_pass(const char* text, size_t length, char before) {
  if (length >= 4 && is_break(static_cast<unsigned char>(before)) && opens_reply(text))
    report_reply(text, length, 0);
  for (size_t i = 0; i + 5 <= length; ++i) {
    if (is_break(static_cast<unsigned char>(text[i])) && opens_reply(text + i + 1))
      report_reply(text, length, i + 1);
  }
}

void scan_held(line_cutter* cutter) {
  scan_piece(cutter->held, cutter->held_length, cutter->before);
  cutter->before = cutter->held[cutter->held_length - 1];
  cutter->held_length = 0;
}

}  // namespace

int scan_piece(const char* text, size_t length, char before) {
  signature_pass(text, length);
  reply_pass(text, length, before);
  return exit_status;
}

int scan_chunk(const char* text, size_t length) { return scan_piece(text, length, '\0'); }

void start_lines(line_cutter* cutter) {
  cutter->held_length = 0;
  cutter->before = '\n';  // the start of a stream counts as the end of a line
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length) {
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    if (cutter->held_length == 0 && feed != nullptr) {
      // Whole lines straight from the read: every line up to its last line feed.
      const char* last = feed;
      for (const char* p = bytes + length - 1; p > feed; --p) {
        if (*p == '\n') {
          last = p;
          break;
        }
      }
      size_t whole = static_cast<size_t>(last - bytes) + 1;
      if (whole > piece_size) whole = piece_size;  // a read never exceeds a piece
      scan_piece(bytes, whole, cutter->before);
      cutter->before = bytes[whole - 1];
      bytes += whole;
      length -= whole;
      continue;
    }
    // Finish, or add to, the held line.
    size_t wanted = feed ? static_cast<size_t>(feed - bytes) + 1 : length;
    size_t room = piece_size - cutter->held_length;
    size_t taken = wanted < room ? wanted : room;
    memcpy(cutter->held + cutter->held_length, bytes, taken);
    cutter->held_length += taken;
    bytes += taken;
    length -= taken;
    bool line_done = feed != nullptr && taken == wanted;
    if (line_done || cutter->held_length == piece_size) scan_held(cutter);
  }
}

void finish_lines(line_cutter* cutter) {
  if (cutter->held_length > 0) scan_held(cutter);
}
