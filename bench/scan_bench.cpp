// Scanner throughput on 4096-byte pieces: the shipped scanner against the naive search
// (every table entry by itself, then every position), on recorded client output and on
// a stream built to defeat prefilters.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "handles.h"
#include "scan/report.h"
#include "scan/lines.h"
#include "scan/entries.h"
#include "settings/settings.h"
#include "site_texts.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> all_patterns() {
  std::vector<std::string> patterns(error_signatures, error_signatures + signature_count);
  for (size_t i = 0; i < client_signature_count; ++i) patterns.push_back(client_signatures[i]);
  return patterns;
}

// A recorded session of a command-line client against a local server: listings, hash
// marks, texts fetched to stdout, a few error replies.
std::string transcript() { return read_file(VESKAR_TRANSCRIPTS "/tnftp-session.txt"); }

// The same session as a Windows console client writes it: CR LF line ends.
std::string transcript_crlf() {
  std::string lf = transcript(), crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

// Lines made of near misses: table entries with one byte changed or cut short, and
// codes after every line break that fail on the last byte that could decide them.
std::string adversarial() {
  std::mt19937 random(5);
  std::vector<std::string> patterns = all_patterns();
  const char* almost_replies[] = {"550-", "55 ", "5500 ", "550\t", "226 ", "150 ", "4x0 ", "99"};
  const char* breaks[] = {"\n", "\r\n", "\r"};
  std::string out;
  while (out.size() < (1u << 20)) {
    out += breaks[random() % 3];
    out += almost_replies[random() % 8];
    for (int k = 0; k < 3; ++k) {
      std::string p = patterns[random() % patterns.size()];
      if (random() % 2 == 0)
        p[p.size() - 1 - random() % 3] = '#';  // fails at the very end
      else
        p.erase(p.size() - 1);
      out += p + ' ';
    }
  }
  return out;
}

// What bench_client floods the relay with: a long LIST reply.
std::string listing() {
  std::string out;
  for (unsigned n = 0; out.size() < (1u << 20); ++n) {
    char line[128];
    snprintf(line, sizeof line,
             "-rw-r--r--   1 ftp      ftp      %9u Dec 07 07:%02u file-%06u.dat\r\n",
             n * 7919u % 100000000u, n % 60, n);
    out += line;
  }
  return out;
}

std::string stream_named(int which) {
  if (which == 0) return transcript();
  if (which == 1) return transcript_crlf();
  if (which == 2) return listing();
  return adversarial();
}

const char* stream_names[] = {"transcript_lf", "transcript_crlf", "listing", "adversarial"};

// 4096-byte pieces, as a flooding client's reads arrive.
std::vector<std::string> pieces_of(const std::string& stream) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at + piece_size <= stream.size(); at += piece_size)
    pieces.push_back(stream.substr(at, piece_size));
  return pieces;
}

void reports_to_null() {
  static int null_fd = open("/dev/null", O_WRONLY);
  saved_stdout = null_fd;
}

// A piece searched and its signs reported, as the relay does for a line-cut read.
void scan_piece(const char* text, size_t length, char before) {
  find_signs(text, length, before, report_found, nullptr);
}

void shipped_pieces(benchmark::State& state) {
  int which = static_cast<int>(state.range(0));
  state.SetLabel(stream_names[which]);
  std::vector<std::string> pieces = pieces_of(stream_named(which));
  reports_to_null();
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& piece : pieces) scan_piece(piece.data(), piece.size(), '\n');
    bytes += pieces.size() * piece_size;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// As shipped_pieces, with the search holding what a German site gives it: 32 texts of
// its own and the German words of the C library's texts, as veskar starts with them.
void site_pieces(benchmark::State& state) {
  setenv("VESKAR_SIGNS", bench_site_signs, 1);
  setenv("LC_ALL", bench_locale, 1);
  if (read_settings() != nullptr || prepare_search() != nullptr || current_index()->count < 150)
    state.SkipWithError("the site texts or the locale's did not load");
  shipped_pieces(state);
  unsetenv("VESKAR_SIGNS");
  unsetenv("LC_ALL");
  build_search_index(nullptr, 0);
}

// Reads the pieces of `which`'s stream through one line cutter, as the relay does.
void cut_and_scan(benchmark::State& state, int which) {
  std::vector<std::string> pieces = pieces_of(stream_named(which));
  reports_to_null();
  static line_cutter cutter;
  start_lines(&cutter);
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& piece : pieces) scan_lines(&cutter, piece.data(), piece.size(), report_found, nullptr);
    bytes += pieces.size() * piece_size;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The relay's whole path after the echo: the line cutter and the scanner.
void shipped_reads(benchmark::State& state) {
  int which = static_cast<int>(state.range(0));
  state.SetLabel(stream_names[which]);
  cut_and_scan(state, which);
}

// The plain reply-line check, every position tried; returns the number of signs.
size_t naive_replies(const char* text, size_t length) {
  size_t signs = 0;
  for (size_t i = 0; i + 5 <= length; ++i) {
    if ((text[i] == '\n' || text[i] == '\r') && text[i + 1] >= '4' && text[i + 1] <= '9' &&
        text[i + 2] >= '0' && text[i + 2] <= '9' && text[i + 3] >= '0' && text[i + 3] <= '9' &&
        text[i + 4] == ' ')
      ++signs;
  }
  return signs;
}

// The naive scanner: one strstr (or memmem) per table entry, then the plain reply check.
// It only counts what it finds, so it writes no reports.
template <bool use_memmem>
void naive_pieces(benchmark::State& state) {
  int which = static_cast<int>(state.range(0));
  state.SetLabel(stream_names[which]);
  std::vector<std::string> pieces = pieces_of(stream_named(which));
  std::vector<std::string> patterns = all_patterns();
  size_t bytes = 0, signs = 0;
  for (auto _ : state) {
    for (const std::string& piece : pieces) {
      const char* text = piece.c_str();  // terminated, as strstr needs
      size_t searched = strlen(text);
      for (const std::string& p : patterns) {
        bool hit = use_memmem ? memmem(text, searched, p.data(), p.size()) != nullptr
                              : strstr(text, p.c_str()) != nullptr;
        signs += hit;
      }
      signs += naive_replies(text, piece.size());
    }
    bytes += pieces.size() * piece_size;
  }
  benchmark::DoNotOptimize(signs);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The floor of any scan: one pass of the C library's vectorised memchr over every byte,
// looking for a byte that is not there. No search for 87 texts and for reply codes can
// take less.
void floor_memchr(benchmark::State& state) {
  int which = static_cast<int>(state.range(0));
  state.SetLabel(stream_names[which]);
  std::vector<std::string> pieces = pieces_of(stream_named(which));
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& piece : pieces)
      benchmark::DoNotOptimize(memchr(piece.data(), '\0', piece.size()));
    bytes += pieces.size() * piece_size;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(shipped_pieces)->DenseRange(0, 3);
BENCHMARK(shipped_reads)->DenseRange(0, 3);
BENCHMARK(site_pieces)->DenseRange(0, 3);
BENCHMARK_TEMPLATE(naive_pieces, false)->Name("naive_strstr")->DenseRange(0, 3);
BENCHMARK_TEMPLATE(naive_pieces, true)->Name("naive_memmem")->DenseRange(0, 3);
BENCHMARK(floor_memchr)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
