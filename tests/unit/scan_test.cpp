#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "report_capture.h"
#include "scan_model.h"
#include "scan/report.h"
#include "scan/lines.h"

namespace {

// The kind of the first sign the last search handed on, as the status it gives.
int status = 0;

// A sign_sink that writes each sign as the text of its report.
void collect(const found_sign* sign, void* reports) {
  *static_cast<std::string*>(reports) +=
      sign->text != nullptr ? report(std::string(sign->text, sign->length)) : banner_only();
  if (status == 0) status = sign->kind == sign_message ? status_known_message : status_error_reply;
}

// The signs of a piece whose stream byte before it was `before`, as their reports.
std::string search(const std::string& piece, char before) {
  std::string reports;
  status = 0;
  find_signs(piece.data(), piece.size(), before, collect, &reports);
  return reports;
}

// A chunk taken by itself; and a piece that starts a line, as the relay's pieces do.
std::string scan(const std::string& chunk) { return search(chunk, '\0'); }
std::string scan_lines_of(const std::string& piece) { return search(piece, '\n'); }

// What the report room writes for a chunk.
std::string reports_of(const std::string& chunk) {
  begin_capture();
  scan_piece(chunk.data(), chunk.size(), '\0');
  return end_capture();
}

std::string twice(const std::string& text) { return text + text; }

TEST(SignatureTable, HoldsSeventyNineEntriesWithTheirDuplicates) {
  size_t longest = 0;
  for (const char* entry : error_signatures) longest = std::max(longest, std::string(entry).size());
  EXPECT_EQ(longest, 56u);
  const int twins[][2] = {{4, 45},  {52, 75}, {53, 76}, {54, 77}, {55, 78}, {56, 79},
                          {57, 69}, {58, 70}, {59, 71}, {62, 72}, {66, 74}};
  int duplicates = 0;
  for (int a = 0; a < signature_count; ++a)
    for (int b = a + 1; b < signature_count; ++b)
      if (std::string(error_signatures[a]) == error_signatures[b]) ++duplicates;
  EXPECT_EQ(duplicates, 11);
  for (const auto& pair : twins)
    EXPECT_STREQ(error_signatures[pair[0] - 1], error_signatures[pair[1] - 1]);
  EXPECT_STREQ(error_signatures[63], "451 Requested action aborted. Local error in processing.");
  EXPECT_STREQ(error_signatures[72], "451 Requested action aborted: local error in processing.");
  EXPECT_STREQ(error_signatures[0], "TLI Error");
  EXPECT_STREQ(error_signatures[78], "504 Command not implemented for that parameter.");
}

TEST(SignatureTable, EveryClientMessageFitsTheSearch) {
  EXPECT_LE(signature_count + client_signature_count, static_cast<size_t>(max_entries));
}

TEST(SignatureTable, NoEntryStandsInsideAnother) {
  std::vector<std::string> patterns = all_patterns();
  for (const std::string& p : patterns) EXPECT_GE(p.size(), static_cast<size_t>(min_entry_length)) << p;
  for (size_t a = 0; a < patterns.size(); ++a)
    for (size_t b = 0; b < patterns.size(); ++b) {
      if (patterns[a] == patterns[b]) continue;
      EXPECT_EQ(patterns[b].find(patterns[a]), std::string::npos) << patterns[a] << " in " << patterns[b];
    }
}

// Entries a run adds: any text of the shortest length the index places is found at
// every alignment; a shorter one, or one too many, is refused, never skipped.
struct SearchIndex : ::testing::Test {
  void TearDown() override { EXPECT_TRUE(build_search_index(nullptr, 0)); }
};

TEST_F(SearchIndex, PlacesEveryEntryOfTheShortestLengthOrRefusesIt) {
  const search_entry extra[] = {{"abcd", 4, true},      {"Verbindung", 10, true}, {"zu!!", 4, true},
                                {"Fehler 7", 8, false}, {"12345", 5, true},       {"nicht gefunden", 14, true}};
  ASSERT_TRUE(build_search_index(extra, sizeof extra / sizeof extra[0]));
  for (const search_entry& entry : extra)
    for (size_t lead = 0; lead < 40; ++lead)
      ASSERT_EQ(scan_lines_of(std::string(lead, ' ') + std::string(entry.text, entry.length) + "\r\n"),
                report(std::string(entry.text, entry.length)))
          << entry.text << " after " << lead;
  // Like a client entry, "Fehler 7" does not count inside a reply line; "abcd" does.
  EXPECT_EQ(scan_lines_of("550 Fehler 7 abcd\n"), report("abcd") + report("550 Fehler 7 abcd"));
  const search_entry too_short[] = {{"abc", 3, true}};
  EXPECT_FALSE(build_search_index(too_short, 1));
  std::vector<std::string> texts;
  for (size_t n = 0; n <= max_entries - signature_count - client_signature_count; ++n)
    texts.push_back("text " + std::to_string(n));
  std::vector<search_entry> too_many;
  for (const std::string& t : texts) too_many.push_back({t.data(), t.size(), true});
  EXPECT_FALSE(build_search_index(too_many.data(), too_many.size()));
  too_many.pop_back();
  EXPECT_TRUE(build_search_index(too_many.data(), too_many.size()));
}

// A line gives each sign once: a text inside another found with it is no sign of its
// own, in a short line and in a long one; a table entry given again is searched once.
TEST_F(SearchIndex, ATextInsideAnotherFoundWithItIsNoSignOfItsOwn) {
  const search_entry extra[] = {{"Verbindung", 10, true}, {"Verbindung abgelehnt", 20, false},
                                {"Not connected.", 14, true}};
  ASSERT_TRUE(build_search_index(extra, 3));
  EXPECT_EQ(scan_lines_of("ftp: Verbindung abgelehnt\n"), report("Verbindung abgelehnt"));
  EXPECT_EQ(scan_lines_of("Verbindung weg, Verbindung abgelehnt\n"), report("Verbindung abgelehnt"));
  EXPECT_EQ(scan_lines_of("Verbindung weg\n"), report("Verbindung"));
  // Inside a reply the longer text does not count, so the shorter one does.
  EXPECT_EQ(scan_lines_of("550 Verbindung abgelehnt\n"), report("Verbindung") + report("550 Verbindung abgelehnt"));
  EXPECT_EQ(scan_lines_of("Not connected.\n"), report("Not connected."));
  static line_cutter cutter;
  begin_capture();
  start_lines(&cutter);
  const std::string line = std::string(5000, 'x') + "Verbindung abgelehnt\n";
  scan_lines(&cutter, line.data(), line.size(), report_found, nullptr);
  EXPECT_EQ(end_capture(), report("Verbindung abgelehnt"));
  // Given again to count anywhere, a client entry counts in a reply line too.
  const search_entry anywhere[] = {{"Permission denied", 17, true}};
  ASSERT_TRUE(build_search_index(anywhere, 1));
  EXPECT_EQ(scan_lines_of("550 x: Permission denied\n"),
            report("Permission denied") + report("550 x: Permission denied"));
}

TEST(SignaturePass, EveryEntryIsFoundInsideALongerLine) {
  for (int e = 0; e < signature_count; ++e) {
    std::string entry = error_signatures[e];
    std::string expected;
    for (const char* other : error_signatures)
      if (entry == other) expected += report(entry);
    EXPECT_EQ(scan("xx" + entry + "yy\r\n"), expected) << entry;
    EXPECT_EQ(status, 2);
  }
}

TEST(SignaturePass, ReportsInTableOrderOncePerLine) {
  EXPECT_EQ(scan("Login failed. too deep Login failed.\ntoo deep Login failed.\n"),
            twice(report("too deep") + report("Login failed.")));
  EXPECT_EQ(scan("The network is down"),
            report("The network is down") + report("The network is down"));
  EXPECT_EQ(scan("Login failed"), "");  // the period belongs to the entry
  EXPECT_EQ(scan("login failed."), "");
}

TEST(SignaturePass, StopsAtTheFirstZeroByte) {
  EXPECT_EQ(scan(std::string("\0too deep", 9)), "");
  EXPECT_EQ(scan(std::string("too deep\0Login failed.", 22)), report("too deep"));
}

TEST(ReplyPass, FindsErrorCodesAfterALineBreak) {
  EXPECT_EQ(scan("x\r\n530 Login incorrect.\r\n"), banner_only() + "Error text: 530 Login incorrect.\r\n");
  EXPECT_EQ(scan("x\n999 odd\n"), report("999 odd"));
  EXPECT_EQ(scan("x\r421 bye\n"), report("421 bye"));
  EXPECT_EQ(status, 3);
  // Every reply line, even one straight after another.
  EXPECT_EQ(scan("x\n450 a\n451 b\n"), report("450 a") + report("451 b"));
}

TEST(ReplyPass, IgnoresWhatIsNotAnErrorReply) {
  for (const char* chunk : {"x\n550-first line\n", "x\n226 done\n", "x\n150 opening\n",
                            "x\n331 password\n", "x\n550\tx\n", "x\n5500 x\n", "x\n55 x\n",
                            "550 at the start\n", "x 550 inside\n", "x\n\xb5\x35\x30 x\n"}) {
    EXPECT_EQ(scan(chunk), "") << chunk;
    EXPECT_EQ(status, 0);
  }
}

// A client reading commands from a file echoes none: the reply shares the prompt's line.
TEST(ReplyPass, FindsAReplyRightAfterThePrompt) {
  EXPECT_EQ(scan("ftp> 550 No such file or directory.\r\n"), report("550 No such file or directory.\r"));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(scan("x\nftp> ftp> 421 bye\n"), report("421 bye"));
  EXPECT_EQ(scan_lines_of("ftp> 550 x: Is a directory\n"), report("550 x: Is a directory"));
  for (const char* chunk : {"ftp> 250 ok\n", "ftp>  550 x\n", "ftp>550 x\n", "ftp 550 x\n", "ftp> 550-x\n"})
    EXPECT_EQ(scan(chunk), "") << chunk;
}

// Statistics the clients print at a line's start, whose byte count looks like a code.
TEST(ReplyPass, TransferStatisticsAreNoReply) {
  EXPECT_EQ(scan("x\n631 bytes sent in 00:00 (1.37 MiB/s)\n999 bytes received in 0.00 secs\n"), "");
  EXPECT_EQ(scan("ftp> 631 bytes received in 00:00\n"), "");
  EXPECT_EQ(scan("x\n631 bytes sent\n"), report("631 bytes sent"));
  EXPECT_EQ(scan("x\n550 bytes sent i"), banner_only());
}

TEST(ReplyPass, ALineWithoutItsLineFeedGivesTheBannerAlone) {
  EXPECT_EQ(scan("x\n550 "), banner_only());
  EXPECT_EQ(status, 3);
  EXPECT_EQ(scan("x\n550 half a line"), banner_only());
  EXPECT_EQ(scan(std::string("x\n550 a\0b\n", 10)), banner_only());
}

TEST(ReplyPass, ShortChunksNeverReport) {
  EXPECT_EQ(scan("\n550"), "");
  EXPECT_EQ(scan("\n55 "), "");
}

TEST(ReplyPass, APieceAfterALineFeedMayOpenWithAReply) {
  EXPECT_EQ(search("550 x\n", '\n'), report("550 x"));
  EXPECT_EQ(search("550 ", '\r'), banner_only());
  EXPECT_EQ(search("550 x\n", 'a'), "");
}

TEST(Scanner, SignatureAndReplyOnOneLineGiveTwoReportsAndStatusTwo) {
  EXPECT_EQ(scan("x\r\n550 Requested action not taken.\r\n"),
            report("550 Requested action not taken.") +
                report("550 Requested action not taken.\r"));
  EXPECT_EQ(status, 2);
}

// Signs count in the order of the lines they stand in, whatever else shares the piece.
TEST(Scanner, ReportsFollowTheLines) {
  EXPECT_EQ(scan_lines_of("530 Login incorrect.\r\nLogin failed.\r\n"),
            report("530 Login incorrect.\r") + report("Login failed."));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(scan_lines_of("421 Timeout.\r\nNot connected.\r\nNot connected.\r\n"),
            report("421 Timeout.\r") + twice(report("Not connected.")));
  EXPECT_EQ(status, 3);
  // Within a line the table comes first, then its reply lines, after a lone CR too.
  EXPECT_EQ(scan_lines_of("x\r550 no\rtoo deep\n"), report("too deep") + report("550 no\rtoo deep"));
  EXPECT_EQ(status, 2);
  // A zero byte ends the text of its own line only.
  EXPECT_EQ(scan_lines_of(std::string("a\0 too deep\nLogin failed.\n", 26)), report("Login failed."));
}

// The client's messages are the C library's words, which servers also put in replies:
// on a reply line only the reply counts. The shared table still counts there.
TEST(Scanner, AReplyLineIsItsOwnSign) {
  EXPECT_EQ(scan_lines_of("550 absent.txt: No such file or directory\r\n"),
            report("550 absent.txt: No such file or directory\r"));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(scan_lines_of("x\n553 Can't open that file: Permission denied\n"),
            report("553 Can't open that file: Permission denied"));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(scan_lines_of("ftp: local: x: No such file or directory\n"), report("No such file or directory"));
  EXPECT_EQ(status, 2);
  // Before the reply, on the same line, it still counts.
  EXPECT_EQ(scan_lines_of("Permission denied\r550 x\n"), report("Permission denied") + report("550 x"));
  EXPECT_EQ(scan_lines_of("550 Requested action not taken.\n"),
            report("550 Requested action not taken.") + report("550 Requested action not taken."));
  EXPECT_EQ(status, 2);
}

// Each sign carries the line it stands in, which the ignore list is checked against.
TEST(Scanner, HandsEachSignWithItsLine) {
  std::vector<std::string> lines;
  sign_sink keep_line = [](const found_sign* sign, void* kept) {
    static_cast<std::vector<std::string>*>(kept)->emplace_back(sign->line, sign->line_length);
  };
  const std::string piece = "a\r550 x\rb\nToo deep too deep\r\n";
  find_signs(piece.data(), piece.size(), '\n', keep_line, &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"a\r550 x\rb", "Too deep too deep\r"}));
}

TEST(Scanner, TheFirstSignDecidesTheStatus) {
  begin_capture();
  scan_piece("x\n530 no\n", 9, '\0');
  scan_piece("too deep", 8, '\0');
  std::string out = end_capture();
  EXPECT_EQ(out, report("530 no") + report("too deep"));
  EXPECT_EQ(exit_status, 3);
}

// The text is cut, never the line feed: the report line fits the line buffer whole.
TEST(Scanner, CutsAReportLineToTheLineBuffer) {
  std::string code = "550 " + std::string(1996, 'y');
  std::string out = reports_of("\n" + code + "\n");
  EXPECT_EQ(out, banner_only() + "Error text: " + code.substr(0, 1010) + "\n");
  EXPECT_EQ(exit_status, 3);
}

TEST(Scanner, TakesClientTextVerbatimNeverAsAFormat) {
  EXPECT_EQ(reports_of("x\n550 %s %n %d%%\n"), report("550 %s %n %d%%"));
}

// The fast search must give exactly the plain model's reports, on text built to hit
// near misses: fragments of entries, codes after line breaks, zero and high bytes.
TEST(Scanner, MatchesThePlainModelOnRandomText) {
  std::mt19937 random(20261207);
  std::vector<std::string> patterns = all_patterns();
  const char* bits[] = {"\r\n", "\n", "\r", "550 ", "421 ", "5", " ", "x", "\xff", "1", "-"};
  for (int round = 0; round < 4000; ++round) {
    std::string piece;
    size_t target = random() % 600;
    while (piece.size() < target) {
      int kind = static_cast<int>(random() % 4);
      if (kind == 0) {
        const std::string& p = patterns[random() % patterns.size()];
        piece += p.substr(random() % 3, p.size() - random() % 3);
      } else if (kind == 1) {
        piece += bits[random() % (sizeof bits / sizeof bits[0])];
      } else if (kind == 2 && random() % 20 == 0) {
        piece += '\0';
      } else {
        piece += static_cast<char>('a' + random() % 26);
      }
    }
    char before = "\n\rx"[random() % 3];
    int model_status = 0;
    std::string expected = model_scan(piece, before, &model_status);
    ASSERT_EQ(search(piece, before), expected) << "round " << round;
    ASSERT_EQ(status, model_status);
  }
}

}  // namespace
