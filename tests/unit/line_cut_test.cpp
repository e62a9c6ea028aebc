#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "handles.h"
#include "relay.h"
#include "report_capture.h"
#include "report.h"
#include "scan/lines.h"

namespace {

// Feeds `stream` to a fresh cutter in reads that end at each of `cuts`, then ends it.
std::string scan_in_reads(const std::string& stream, const std::vector<size_t>& cuts) {
  static line_cutter cutter;
  begin_capture();
  start_lines(&cutter);
  size_t from = 0;
  for (size_t cut : cuts) {
    if (cut > from) scan_lines(&cutter, stream.data() + from, cut - from, report_found, nullptr);
    from = cut;
  }
  if (stream.size() > from) scan_lines(&cutter, stream.data() + from, stream.size() - from, report_found, nullptr);
  finish_lines(&cutter, report_found, nullptr);
  return end_capture();
}

// A session with signs of both kinds, lines ending in LF or CR LF, a reply line at the
// stream's start, and a last line without its line feed.
const std::string session =
    "550 No such file.\r\n"
    "Connected to host.\n"
    "220-Welcome\r\n220 ready\r\n"
    "ftp> get x\n"
    "Login failed.\n"
    "200 PORT ok\r\n"
    "421 Timeout.\r\n"
    "too deep and The network is down\n"
    "ftp> 452 no room";

// Every cut gives this: the lines' signs in the lines' order, the first a reply line,
// the last a reply after the prompt whose line never ends.
const std::string session_reports =
    report("550 No such file.\r") + report("Login failed.") + report("421 Timeout.\r") +
    report("The network is down") + report("too deep") + report("The network is down") +
    banner_only();

void expect_every_sign(const std::string& out, const std::string& where) {
  ASSERT_EQ(out, session_reports) << where;
  ASSERT_EQ(exit_status, 3) << where;
}

TEST(LineCutting, EverySplitIntoTwoOrThreeReadsFindsEverySign) {
  for (size_t a = 0; a <= session.size(); ++a) {
    expect_every_sign(scan_in_reads(session, {a}), "cut at " + std::to_string(a));
    for (size_t b = a + 1; b < session.size(); b += 3)
      expect_every_sign(scan_in_reads(session, {a, b}), "cuts " + std::to_string(a) + "," + std::to_string(b));
  }
}

TEST(LineCutting, OneByteReadsFindEverySign) {
  std::vector<size_t> cuts;
  for (size_t i = 1; i < session.size(); ++i) cuts.push_back(i);
  expect_every_sign(scan_in_reads(session, cuts), "one byte a read");
}

TEST(LineCutting, CleanOutputStaysCleanWhateverTheCut) {
  const std::string clean = "220 ready\r\n331 Password required\r\n230 in\r\nftp> 150 x\n226 ok\n";
  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    std::vector<size_t> cuts;
    for (size_t at = random() % 8; at < clean.size(); at += 1 + random() % 9) cuts.push_back(at);
    EXPECT_EQ(scan_in_reads(clean, cuts), "");
    EXPECT_EQ(exit_status, 0);
  }
}

TEST(LineCutting, WholeLineReadsReportAsTheyWouldUncut) {
  const std::string lines = "x\r\n550 gone\r\ntoo deep\n";
  EXPECT_EQ(scan_in_reads(lines, {}), report("550 gone\r") + report("too deep"));
  EXPECT_EQ(scan_in_reads(lines, {3, 13}), report("550 gone\r") + report("too deep"));
}

TEST(LineCutting, LongLinesAreScannedInFullPieces) {
  // A reply line of 5000 bytes: its first piece has no line feed, so the banner comes
  // alone; a sign past the first piece is still found when the line fills.
  std::string line = "550 " + std::string(4990, 'y') + "too deep\n";
  std::string out = scan_in_reads(line, {100, 4096, 4200});
  EXPECT_EQ(out, banner_only() + report("too deep"));
  EXPECT_EQ(exit_status, 3);
}

// A client that echoes no commands writes prompt after prompt on one line: a reply
// after the prompt, or after a lone CR, is found wherever the line's pieces end.
TEST(LineCutting, RepliesInALongLineAreFoundAcrossPieceEnds) {
  for (size_t prompts : {816u, 817u, 818u, 819u, 820u, 1637u, 1638u}) {
    std::string line;
    for (size_t n = 0; n < prompts; ++n) line += "ftp> ";
    // Its text, where the piece ends before the line does, is lost, as in any long line.
    for (const std::vector<size_t>& cuts : {std::vector<size_t>{1000, 4000}, std::vector<size_t>{}}) {
      std::string out = scan_in_reads(line + "ftp> 550 Failed\n", cuts);
      EXPECT_TRUE(out == report("550 Failed") || out == banner_only()) << prompts << ": " << out;
      EXPECT_EQ(exit_status, 3) << prompts;
    }
  }
  for (size_t lead : {4090u, 4092u, 4093u, 4095u})
    EXPECT_EQ(scan_in_reads(std::string(lead, 'x') + "\r550 x\n", {4000}), report("550 x")) << lead;
}

TEST(LineCutting, TheLastLineIsScannedAtTheEnd) {
  EXPECT_EQ(scan_in_reads("ftp> Login failed.", {5}), report("Login failed."));
  EXPECT_EQ(scan_in_reads("x\n530 ", {3}), banner_only());
}

// The relay's echo-and-scan path, without processes.
TEST(Relay, EchoesEachReadAndScansAfterAFailedEcho) {
  reset_relay();
  begin_capture();
  saved_stderr = no_handle;  // every echo to stderr fails
  relay_chunk(error_stream, "x\n550 lost\n", 11);
  relay_chunk(error_stream, "too deep", 8);
  relay_chunk(output_stream, "230 ok\n", 7);
  relay_chunk(error_stream, nullptr, 0);
  relay_chunk(output_stream, nullptr, 0);
  EXPECT_EQ(end_capture(), report("550 lost") + "230 ok\n" + report("too deep"));
  EXPECT_EQ(exit_status, 3);
}

TEST(Relay, KeepsAnUnfinishedLineOfEachStreamApart) {
  reset_relay();
  begin_capture();
  saved_stderr = no_handle;
  relay_chunk(output_stream, "x\n55", 4);
  relay_chunk(error_stream, "0 Login", 7);
  relay_chunk(output_stream, "0 gone\n", 7);
  relay_chunk(error_stream, " failed.\n", 9);
  relay_chunk(output_stream, nullptr, 0);
  relay_chunk(error_stream, nullptr, 0);
  EXPECT_EQ(end_capture(), "x\n550 gone\n" + report("550 gone") + report("Login failed."));
}

}  // namespace
