// The scanner's search is built for speed: a sampled gram filter and block-wise line
// break search. These tests hold it to a plain model, which tries every entry by itself,
// line by line, on the fuzz corpus, on recorded sessions and on pieces built to sit on
// the edges of the fast search (alignments, block ends, piece ends), with the tables
// alone and with entries a run adds. And a stream's reports and transfer statistics
// must not depend on how its reads fall.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string.h>
#include <string>
#include <vector>

#include "report_capture.h"
#include "scan_model.h"
#include "scan/report.h"
#include "scan/lines.h"

namespace {

// Each case runs with the tables alone, and with entries a run adds that overlap them
// and each other.
class ScannerAgreesWithThePlainModel : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { use_entries(GetParam() ? overlapping_entries() : std::vector<search_entry>{}); }
  void TearDown() override { use_entries({}); }
  static void use_entries(const std::vector<search_entry>& extra) {
    ASSERT_TRUE(build_search_index(extra.data(), extra.size()));
    model_entries(extra);
  }
};

// Every entry's text: the tables', and those of the run's entries in use.
std::vector<std::string> table() {
  std::vector<std::string> texts = all_patterns();
  if (ScannerAgreesWithThePlainModel::GetParam())
    for (const search_entry& e : overlapping_entries()) texts.emplace_back(e.text, e.length);
  return texts;
}

// Scans `pieces` in order, each after the last byte of the one before, and checks the
// reports and the status against the model.
void expect_agreement(const std::vector<std::string>& pieces, const std::string& what) {
  std::string expected;
  int model_status = 0;
  char before = '\n';
  begin_capture();
  int status = 0;
  for (const std::string& piece : pieces) {
    expected += model_scan(piece, before, &model_status);
    status = scan_piece(piece.data(), piece.size(), before);
    if (!piece.empty()) before = piece.back();
  }
  std::string got = end_capture();
  ASSERT_EQ(got.size(), expected.size()) << what;
  ASSERT_TRUE(got == expected) << what;
  ASSERT_EQ(status, model_status) << what;
}

// A stream cut as the relay's reads may come: fixed sizes, and at every line feed.
std::vector<std::vector<std::string>> cuts_of(const std::string& stream) {
  std::vector<std::vector<std::string>> cuts;
  for (size_t size : {size_t{4096}, size_t{1000}, size_t{67}, size_t{5}}) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < stream.size(); at += size) pieces.push_back(stream.substr(at, size));
    cuts.push_back(pieces);
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < stream.size();) {
    size_t end = stream.find('\n', at);
    end = end == std::string::npos ? stream.size() : end + 1;
    if (end - at > 4096) end = at + 4096;
    lines.push_back(stream.substr(at, end - at));
    at = end;
  }
  cuts.push_back(lines);
  return cuts;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The transfer statistics lines the cutter handed on, as the model writes them.
std::vector<std::string> transfers;
void keep_transfer(bool sent, unsigned long long bytes) {
  transfers.push_back((sent ? "sent " : "received ") + std::to_string(bytes));
}

// Feeds `stream` through a line cutter in reads of the given sizes, in turn.
std::string scan_stream_in_reads(const std::string& stream, const std::vector<size_t>& sizes,
                                 int* status) {
  static line_cutter cutter;
  begin_capture();
  start_lines(&cutter);
  count_lines(&cutter, keep_transfer);
  transfers.clear();
  for (size_t at = 0, r = 0; at < stream.size(); ++r) {
    size_t size = std::min(sizes[r % sizes.size()], stream.size() - at);
    scan_lines(&cutter, stream.data() + at, size, report_found, nullptr);
    at += size;
  }
  finish_lines(&cutter, report_found, nullptr);
  *status = exit_status;
  return end_capture();
}

// The contract: one stream, every way of cutting it into reads, the same reports in
// the same order and the same status, those of the plain model.
void expect_same_for_every_cut(const std::string& stream, const std::string& what) {
  int model_status = 0;
  const std::string expected = model_stream(stream, &model_status);
  const std::vector<std::string> expected_transfers = model_transfers(stream);
  std::mt19937 random(static_cast<unsigned>(stream.size()));
  std::vector<std::vector<size_t>> cuts = {{4096}, {1}, {5}, {67}, {1000}, {4095, 2}, {3, 4096}};
  for (int k = 0; k < 4; ++k) {
    std::vector<size_t> sizes;
    for (int r = 0; r < 50; ++r) sizes.push_back(1 + random() % (random() % 2 ? 40 : 4096));
    cuts.push_back(sizes);
  }
  for (const std::vector<size_t>& sizes : cuts) {
    int status = -1;
    std::string got = scan_stream_in_reads(stream, sizes, &status);
    ASSERT_TRUE(got == expected) << what << ", reads of " << sizes[0] << " bytes first";
    ASSERT_EQ(status, model_status) << what;
    ASSERT_EQ(transfers, expected_transfers) << what << ", reads of " << sizes[0] << " bytes first";
  }
}

void expect_agreement_on_files(const std::filesystem::path& directory, size_t minimum) {
  ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
  size_t files = 0;
  for (const auto& file : std::filesystem::directory_iterator(directory)) {
    if (!file.is_regular_file()) continue;
    std::string stream = read_file(file.path());
    ++files;
    for (const auto& pieces : cuts_of(stream)) expect_agreement(pieces, file.path().string());
    std::string crlf;
    for (char c : stream) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const auto& pieces : cuts_of(crlf))
      expect_agreement(pieces, file.path().string() + " (CR LF)");
    expect_same_for_every_cut(stream, file.path().string());
    expect_same_for_every_cut(crlf, file.path().string() + " (CR LF)");
  }
  EXPECT_GE(files, minimum) << directory;
}

TEST_P(ScannerAgreesWithThePlainModel, OnTheFuzzCorpus) {
  expect_agreement_on_files(VESKAR_SOURCE_DIR "/tests/corpus", 50);
}

TEST_P(ScannerAgreesWithThePlainModel, OnRecordedSessions) {
  expect_agreement_on_files(VESKAR_SOURCE_DIR "/bench/transcripts", 1);
}

// Every entry, whole and with one byte changed or missing, at every alignment in a
// piece and ending at every distance from the piece's end.
TEST_P(ScannerAgreesWithThePlainModel, OnEveryEntryAtEveryAlignment) {
  std::vector<std::string> pieces;
  for (const std::string& entry : table()) {
    std::vector<std::string> variants = {entry, entry.substr(1), entry.substr(0, entry.size() - 1)};
    for (size_t at : {size_t{0}, entry.size() / 2, entry.size() - 1}) {
      std::string changed = entry;
      changed[at] = '#';
      variants.push_back(changed);
    }
    for (const std::string& variant : variants)
      for (size_t lead = 0; lead < 72; lead += lead < 20 || (lead > 26 && lead < 40) ? 1 : 5)
        for (size_t trail : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{17}, size_t{40}})
          pieces.push_back(std::string(lead, 'x') + variant + std::string(trail, 'y'));
  }
  expect_agreement(pieces, "entries at every alignment");
}

// Reply codes at every position around the ends of the search's blocks and of the
// piece, with each byte that decides them right or wrong.
TEST_P(ScannerAgreesWithThePlainModel, OnReplyCodesAtEveryPosition) {
  const char* codes[] = {"\n550 no\n", "\r451 x\r\n", "\n550-no\n", "\n5500 \n", "\n350 ok\n",
                         "\n55 x\n",   "\n550 ",     "\r\n999 z", "\n4x0 \n",  "\n550 a\0b\n"};
  std::vector<std::string> pieces;
  for (size_t length : {size_t{5}, size_t{19}, size_t{20}, size_t{21}, size_t{36}, size_t{64},
                        size_t{4096}}) {
    for (const char* code : codes) {
      std::string c(code, code[0] == '\n' && code[1] == '5' && code[5] == 'a' ? 10 : strlen(code));
      for (size_t at = 0; at + 1 <= length; ++at) {
        std::string piece(length, 'q');
        piece.replace(at, std::min(c.size(), length - at), c.substr(0, length - at));
        pieces.push_back(piece);
      }
    }
  }
  expect_agreement(pieces, "reply codes at every position");
}

// Random text dense with fragments of entries, codes, breaks, zero and high bytes.
TEST_P(ScannerAgreesWithThePlainModel, OnRandomPieces) {
  std::mt19937 random(4096);
  std::vector<std::string> entries = table();
  const char* bits[] = {"\r\n", "\n", "\r", "550 ", "4", "99 ", " ", "\xff", "\x80", "\0", "-"};
  std::vector<std::string> pieces;
  for (int round = 0; round < 3000; ++round) {
    std::string piece;
    size_t length = round % 10 == 0 ? 4096 : random() % 300;
    while (piece.size() < length) {
      switch (random() % 4) {
        case 0: {
          const std::string& e = entries[random() % entries.size()];
          size_t from = random() % 4, to = e.size() - random() % 3;
          piece += e.substr(from, to - from);
          break;
        }
        case 1: {
          const char* bit = bits[random() % (sizeof bits / sizeof bits[0])];
          piece += bit[0] == '\0' ? std::string(1, '\0') : std::string(bit);
          break;
        }
        default:
          piece += static_cast<char>(random() % 2 ? 'a' + random() % 26 : random() % 256);
      }
    }
    pieces.push_back(piece.substr(0, length));
  }
  expect_agreement(pieces, "random pieces");
}

// A zero byte ends the text entries may lie in, wherever it falls: before, inside or
// just after an entry, and on the edges of the search's blocks.
TEST_P(ScannerAgreesWithThePlainModel, OnZeroBytesAroundEntries) {
  std::vector<std::string> pieces;
  const char* entries[] = {"too deep", "TLI Error", "Login failed.", "No such file or directory"};
  for (const char* entry : entries) {
    size_t size = strlen(entry);
    for (size_t at = 0; at + size <= 150; ++at) {
      for (size_t zero : {at, at + 1, at + size - 1, at + size, size_t{31}, size_t{32}, size_t{35},
                          size_t{36}, size_t{64}, size_t{100}}) {
        std::string piece(160, 'x');
        piece.replace(at, size, entry);
        piece.replace(120, 9, "\n550 no\n");
        if (zero < piece.size()) piece[zero] = '\0';
        pieces.push_back(piece);
      }
    }
  }
  expect_agreement(pieces, "zero bytes around entries");
}

// A piece full of reply lines: every reply is reported, in place.
TEST_P(ScannerAgreesWithThePlainModel, OnPiecesFullOfReplies) {
  std::string dense;
  while (dense.size() + 5 <= 4096) dense += "\n550 ";
  expect_agreement({dense, dense.substr(0, 4094) + "\n5"}, "pieces full of replies");
}

INSTANTIATE_TEST_SUITE_P(TablesAndRunEntries, ScannerAgreesWithThePlainModel, ::testing::Bool());

}  // namespace
