// The scanner's search is built for speed: a sampled gram filter and block-wise line
// break search. These tests hold it to a plain model, which tries every table entry by
// itself and every position, on the fuzz corpus, on recorded sessions and on pieces
// built to sit on the edges of the fast search (alignments, block ends, piece ends).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string.h>
#include <string>
#include <vector>

#include "report_capture.h"
#include "scan/scan.h"

namespace {

std::vector<std::string> table() {
  std::vector<std::string> entries(error_signatures, error_signatures + signature_count);
  for (size_t i = 0; i < client_signature_count; ++i) entries.push_back(client_signatures[i]);
  return entries;
}

bool error_code_at(const std::string& s, size_t i) {
  auto digit = [](char c, char low) { return c >= low && c <= '9'; };
  return (s[i] == '\n' || s[i] == '\r') && digit(s[i + 1], '4') && digit(s[i + 2], '0') &&
         digit(s[i + 3], '0') && s[i + 4] == ' ';
}

// What a scan of `piece`, preceded by `before`, must write; updates *status likewise.
std::string plain_model(const std::string& piece, char before, int* status) {
  std::string out;
  const std::string text = piece.substr(0, piece.find('\0'));
  for (const std::string& entry : table()) {
    if (text.find(entry) == std::string::npos) continue;
    out += report(entry);
    if (*status == 0) *status = 2;
  }
  const std::string s = before + piece;
  for (size_t i = 0; i + 5 <= s.size(); ++i) {
    if (!error_code_at(s, i)) continue;
    out += banner_only();
    size_t end = s.find_first_of(std::string("\n\0", 2), i + 1);
    if (end != std::string::npos && s[end] == '\n')
      out += ("Error text: " + s.substr(i + 1, end - i - 1) + "\n").substr(0, 1023);
    if (*status == 0) *status = 3;
  }
  return out;
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
    expected += plain_model(piece, before, &model_status);
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

// Each case runs with the portable passes and with the widest this processor has.
class ScannerAgreesWithThePlainModel : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { limit_scan_passes(GetParam()); }
  void TearDown() override { limit_scan_passes(1); }
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
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

// A piece full of reply lines, and chunks longer than any read, which a caller of
// scan_chunk may still pass: every reply is reported, in place.
TEST_P(ScannerAgreesWithThePlainModel, OnPiecesFullOfReplies) {
  std::string dense;
  while (dense.size() + 5 <= 4096) dense += "\n550 ";
  std::string longer;
  while (longer.size() < 5000) longer += "\n550 ";
  std::string wide(70000, 'x');
  wide.replace(66000, 8, "\n550 aa\n");
  wide.replace(100, 13, "Login failed.");
  expect_agreement({dense, dense + "\n5", longer, wide}, "pieces full of replies");
}

INSTANTIATE_TEST_SUITE_P(EveryWidth, ScannerAgreesWithThePlainModel, ::testing::Values(0, 1));

}  // namespace
