#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "command_line.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// Builds into a buffer with guard bytes behind the command line's own 2048.
struct built {
  bool fits;
  std::string line;
  bool guard_intact;
};

built build(const std::vector<std::string>& words, const char* client = default_client) {
  std::vector<const char*> arguments{"veskar"};
  for (const std::string& w : words) arguments.push_back(w.c_str());
  static char area[command_line_size + 64];
  memset(area, '#', sizeof area);
  bool fits =
      build_command_line(area, client, static_cast<int>(arguments.size()), arguments.data());
  bool guard = true;
  for (size_t i = command_line_size; i < sizeof area; ++i) guard = guard && area[i] == '#';
  return {fits, std::string(area), guard};
}

// The words split_command_line takes from `line`, the program's first.
std::vector<std::string> split(const std::string& line) {
  static char area[command_line_size];
  static char* words[command_line_words + 1];
  size_t count = split_command_line(line.c_str(), area, words);
  return std::vector<std::string>(words, words + count);
}

const std::string prefix = std::string(default_client) + " ";

TEST(CommandLine, EveryArgumentIsFollowedByOneSpace) {
  EXPECT_EQ(build({}).line, prefix);
  // Nothing to quote: as it always was.
  EXPECT_EQ(build({"-s:upload.txt", "host", "a\\b%\xe9\n"}).line,
            prefix + "-s:upload.txt host a\\b%\xe9\n ");
  EXPECT_EQ(build({"-s:C:\\Jobs\\Nightly upload\\up.txt", "two words", ""}).line,
            prefix + "\"-s:C:\\Jobs\\Nightly upload\\up.txt\" \"two words\" \"\" ");
  EXPECT_EQ(build({"a\"b", "\ttab"}).line, prefix + "\"a\\\"b\" \"\ttab\" ");
  // Backslashes double only before a quote, the closing one included.
  EXPECT_EQ(build({"C:\\my dir\\", "a\\\\\"b\\c"}).line,
            prefix + "\"C:\\my dir\\\\\" \"a\\\\\\\\\\\"b\\c\" ");
}

TEST(CommandLine, LongestLineThatFitsAndOneByteMore) {
  // The prefix, the argument and its space take exactly 2047 characters.
  std::string longest(command_line_size - 1 - prefix.size() - 1, 'x');
  built at_bound = build({longest});
  EXPECT_TRUE(at_bound.fits);
  EXPECT_EQ(at_bound.line.size(), static_cast<size_t>(command_line_size - 1));
  EXPECT_TRUE(at_bound.guard_intact);

  built past = build({longest + "x"});
  EXPECT_FALSE(past.fits);
  EXPECT_LT(past.line.size(), static_cast<size_t>(command_line_size));
  EXPECT_TRUE(past.guard_intact);

  // Quotes and escapes count: "x..x\"\\" and its space.
  std::string quoted = longest.substr(6) + "\"\\";
  EXPECT_EQ(build({quoted}).line.size(), static_cast<size_t>(command_line_size - 1));
  built quoted_past = build({"x" + quoted});
  EXPECT_FALSE(quoted_past.fits);
  EXPECT_TRUE(quoted_past.guard_intact);
}

TEST(CommandLine, ManyEmptyArgumentsStopAtTheBound) {
  built many = build(std::vector<std::string>(10000, ""));
  EXPECT_FALSE(many.fits);
  EXPECT_TRUE(many.guard_intact);
  // Each empty argument takes three characters; one plain argument fills the rest.
  size_t room = command_line_size - 1 - prefix.size();
  std::vector<std::string> empties(room / 3 - 1, "");
  empties.push_back(std::string(room - 3 * empties.size() - 1, 'x'));
  built fitting = build(empties);
  EXPECT_TRUE(fitting.fits);
  EXPECT_EQ(fitting.line.size(), static_cast<size_t>(command_line_size - 1));
  empties.push_back("");
  EXPECT_FALSE(build(empties).fits);
}

TEST(CommandLine, ASetClientReplacesTheDefaultWord) {
  EXPECT_EQ(build({"-n", "host"}, "/opt/ftp/bin/ftp").line, "/opt/ftp/bin/ftp -n host ");
  // A path with blanks stays one word: quoted, as the system's own split expects.
  EXPECT_EQ(build({"-n"}, "C:\\Program Files\\ftp.exe").line,
            "\"C:\\Program Files\\ftp.exe\" -n ");
  EXPECT_EQ(build({}, "tab\there").line, "\"tab\there\" ");
}

TEST(CommandLine, TheBoundCountsTheLongerClientWord) {
  std::string client(100, 'c');
  // The client word, its space, the argument and its space: exactly 2047 characters.
  std::string longest(command_line_size - 1 - 101 - 1, 'x');
  built at_bound = build({longest}, client.c_str());
  EXPECT_TRUE(at_bound.fits);
  EXPECT_EQ(at_bound.line, client + " " + longest + " ");
  EXPECT_FALSE(build({longest + "x"}, client.c_str()).fits);

  // Quotes count too.
  std::string blank_client = "c " + std::string(98, 'c');
  EXPECT_FALSE(build({longest}, blank_client.c_str()).fits);
  EXPECT_TRUE(build({longest.substr(2)}, blank_client.c_str()).fits);

  // A client word that cannot fit by itself leaves a terminated line.
  std::string huge(command_line_size, 'h');
  built past = build({}, huge.c_str());
  EXPECT_FALSE(past.fits);
  EXPECT_LT(past.line.size(), static_cast<size_t>(command_line_size));
  EXPECT_TRUE(past.guard_intact);
  std::string exact(command_line_size - 2, 'h');
  EXPECT_TRUE(build({}, exact.c_str()).fits);
  EXPECT_FALSE(build({""}, exact.c_str()).fits);
}

#ifdef _WIN32
// The words the system's own splitter takes from `line`, the program's first. Each
// byte becomes the code unit of the same value: only ASCII steers the split.
std::vector<std::string> system_split(const std::string& line) {
  std::wstring wide;
  for (char c : line) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  int count = 0;
  wchar_t** words = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> narrow;
  for (int w = 0; w < count; ++w) {
    narrow.emplace_back();
    for (const wchar_t* c = words[w]; *c != L'\0'; ++c) narrow.back() += static_cast<char>(*c);
  }
  LocalFree(words);
  return narrow;
}
#endif

// Mostly short arguments of the bytes the quoting cares about, now and then a long one.
std::string random_argument(std::mt19937& random) {
  static const char bytes[] = {' ', '\t',   '"',    '\\', '\\', 'a',
                               'b', '\xe9', '\xff', '\n', '\v', '%'};
  size_t length = random() % 8 == 0 ? random() % 200 : random() % 8;
  std::string argument;
  for (size_t i = 0; i < length; ++i) argument += bytes[random() % sizeof bytes];
  return argument;
}

TEST(CommandLine, WrittenThenSplitGivesTheArgumentsBackOrIsRefused) {
  std::mt19937 random(2047);
  int refused = 0;
  for (int list = 0; list < 1500; ++list) {
    const char* client = list % 4 == 0 ? "C:\\Program Files\\ftp.exe" : default_client;
    size_t client_part = build({}, client).line.size();
    std::vector<std::string> arguments;
    std::vector<std::string> want{client};
    size_t length = client_part;
    for (size_t count = random() % 160; arguments.size() < count;) {
      std::string argument = random_argument(random);
      // The argument's own share of a line: written after the client word alone.
      size_t share = build({argument}, client).line.size() - client_part;
      arguments.push_back(argument);
      want.push_back(argument);
      built line = build(arguments, client);
      ASSERT_TRUE(line.guard_intact);
      if (length + share > command_line_size - 1) {
        ASSERT_FALSE(line.fits) << arguments.size();
        ++refused;
        break;
      }
      ASSERT_TRUE(line.fits);
      length += share;
      ASSERT_EQ(line.line.size(), length);
      ASSERT_EQ(split(line.line), want) << line.line;
#ifdef _WIN32
      ASSERT_EQ(system_split(line.line), want) << line.line;
#endif
    }
  }
  // Enough lists reach the bound for it to be tested at all.
  EXPECT_GT(refused, 100);
}

TEST(CommandLine, SplitRefusesLinesNoBuildWrites) {
  EXPECT_EQ(split(std::string(command_line_size - 1, 'x')).size(), 1u);
  EXPECT_TRUE(split(std::string(command_line_size, 'x')).empty());
  EXPECT_TRUE(split("\"C:\\a b x").empty());
}

}  // namespace
