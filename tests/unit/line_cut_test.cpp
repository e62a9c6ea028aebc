#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "handles.h"
#include "run/relay.h"
#include "report_capture.h"
#include "scan/report.h"
#include "scan/lines.h"
#include "text.h"

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

// Feeds `stream` to a cutter that flags lines holding "IGNORE ME", in reads of `size`
// bytes (0: one read), and returns what report_found writes of its signs.
std::string scan_flagged(const std::string& stream, size_t size) {
  static line_cutter cutter;
  begin_capture();
  start_lines(&cutter);
  test_lines(&cutter, [](const char* text, size_t length) { return text_holds(text, length, "IGNORE ME", 9); }, 9);
  for (size_t at = 0; at < stream.size();) {
    size_t read = size == 0 ? stream.size() : std::min(size, stream.size() - at);
    scan_lines(&cutter, stream.data() + at, read, report_found, nullptr);
    at += read;
  }
  finish_lines(&cutter, report_found, nullptr);
  return end_capture();
}

std::string many(size_t count, char c) { return std::string(count, c); }

// A line longer than a piece counts as a short one would, wherever its pieces end: each
// rule with the signs that decide it on both sides of a piece's end.
TEST(LineCutting, ALongLineCountsAsAShortOne) {
  struct row {
    const char* rule;
    std::string stream;
    std::string reports;
  };
  std::vector<row> rows;
  // Each sign starts at every offset from 40 bytes before a piece's end to 5 after it.
  const std::string rest = many(300, 'z') + "\n";
  for (size_t lead = 4056; lead <= 4101; ++lead) {
    rows.push_back({"a message across a piece's end", many(lead, '#') + "Not connected." + rest,
                    report("Not connected.")});
    rows.push_back({"statistics across a piece's end are no reply",
                    many(lead - 1, 'x') + "\r631 bytes sent in 00:00 (1.37 MiB/s)" + rest, ""});
    rows.push_back({"statistics after a prompt across a piece's end",
                    many(lead - 5, 'x') + "ftp> 631 bytes received in 00:00" + rest, ""});
    rows.push_back({"a reply across a piece's end", many(lead - 1, 'x') + "\r550 no room" + rest,
                    report("550 no room" + rest.substr(0, rest.size() - 1))});
    rows.push_back({"the ignore list over the whole line",
                    "IGNORE ME" + many(lead, 'x') + "Not connected." + rest + "550 x\n", report("550 x")});
    rows.push_back({"an ignored text across a piece's end", "Not connected." + many(lead, 'x') + "IGNORE ME" + rest, ""});
  }
  // Where a part's carry begins, a prompt the cut splits or that ends on it, and the
  // reply after it.
  for (size_t at = piece_size - part_overlap - 11; at <= piece_size - part_overlap + 5; ++at)
    rows.push_back({"a reply right after a prompt where a part's carry begins",
                    many(at, 'x') + "ftp> 550 " + many(40, 'y') + " Permission denied" + rest,
                    report("550 " + many(40, 'y') + " Permission denied" + many(300, 'z'))});
  rows.push_back({"a message twice in one line, once", many(3000, 'x') + "Not connected." +
                      many(3000, 'x') + "Not connected.\n", report("Not connected.")});
  const std::string failed = "550 Failed. " + many(5000, '.') + " Not connected.";
  rows.push_back({"the line's messages before its reply", "ftp> " + failed + "\n",
                  report("Not connected.") + report(failed.substr(0, 1010))});
  rows.push_back({"a client message after a reply in an earlier piece",
                  "550 x " + many(5000, 'y') + " No such file or directory\n",
                  report(("550 x " + many(5000, 'y')).substr(0, 1010))});
  rows.push_back({"a client message before a reply in a later piece",
                  "No such file or directory " + many(5000, 'y') + "\r550 x\n",
                  report("No such file or directory") + report("550 x")});
  rows.push_back({"a zero byte hides what follows it in later pieces",
                  "too deep" + many(5000, 'x') + std::string(1, '\0') + many(5000, 'x') + "Not connected.\n",
                  report("too deep")});
  rows.push_back({"a zero byte after a long reply's first part hides its text",
                  "550 " + many(2000, 'y') + std::string(1, '\0') + many(3000, 'y') + "\n", banner_only()});
  rows.push_back({"a long reply at the stream's end has no text", "x\n550 " + many(5000, 'y'), banner_only()});
  // Past the replies a long line holds, the rest report without text.
  std::string replies;
  for (int n = 0; n < 20; ++n) replies += many(300, 'q') + "\r55" + std::to_string(n % 10) + " r";
  std::string held;
  for (size_t at = replies.find('\r'), n = 0; at != std::string::npos; at = replies.find('\r', at + 1), ++n)
    held += n < max_held_replies ? report(replies.substr(at + 1, 1010)) : banner_only();
  rows.push_back({"past the replies a long line holds, no text", replies + "\n", held});
  for (const row& r : rows) {
    for (size_t size : {0u, 7u, 1000u, 4095u})
      ASSERT_EQ(scan_flagged(r.stream, size), r.reports) << r.rule << ", " << r.stream.size() << " bytes in reads of " << size;
  }
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
