#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "command_line_split.h"
#include "os_text.h"
#include "platform/windows/command_line.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// Builds into a buffer with guard characters behind the command line's own 2048.
struct built {
  bool fits;
  os_string line;
  bool guard_intact;
};

built build(const std::vector<os_string>& words, const os_char* client = default_client) {
  std::vector<const os_char*> arguments{OS_TEXT("veskar")};
  for (const os_string& w : words) arguments.push_back(w.c_str());
  static os_char area[command_line_size + 64];
  for (os_char& c : area) c = '#';
  bool fits =
      build_command_line(area, client, static_cast<int>(arguments.size()), arguments.data());
  bool guard = true;
  for (size_t i = command_line_size; i < sizeof area / sizeof *area; ++i)
    guard = guard && area[i] == '#';
  return {fits, os_string(area), guard};
}

const os_string prefix = os_string(default_client) + OS_TEXT(" ");

TEST(CommandLine, EveryArgumentIsFollowedByOneSpace) {
  EXPECT_EQ(build({}).line, prefix);
  // Nothing to quote: as it always was.
  EXPECT_EQ(build({OS_TEXT("-s:upload.txt"), OS_TEXT("host"), OS_TEXT("a\\b%\xe9\n")}).line,
            prefix + OS_TEXT("-s:upload.txt host a\\b%\xe9\n "));
  EXPECT_EQ(build({OS_TEXT("-s:C:\\Jobs\\Nightly upload\\up.txt"), OS_TEXT("two words"), OS_TEXT("")})
                .line,
            prefix + OS_TEXT("\"-s:C:\\Jobs\\Nightly upload\\up.txt\" \"two words\" \"\" "));
  EXPECT_EQ(build({OS_TEXT("a\"b"), OS_TEXT("\ttab")}).line,
            prefix + OS_TEXT("\"a\\\"b\" \"\ttab\" "));
  // Backslashes double only before a quote, the closing one included.
  EXPECT_EQ(build({OS_TEXT("C:\\my dir\\"), OS_TEXT("a\\\\\"b\\c")}).line,
            prefix + OS_TEXT("\"C:\\my dir\\\\\" \"a\\\\\\\\\\\"b\\c\" "));
  // Only ASCII steers the quoting: a fullwidth quotation mark is a letter like another,
  // and a character outside the BMP passes whole.
  EXPECT_EQ(build({OS_TEXT("\u0141\u4e2d\uff02\U0001F600"), OS_TEXT("\uff02a b\U0001F600\\")}).line,
            prefix + OS_TEXT("\u0141\u4e2d\uff02\U0001F600 \"\uff02a b\U0001F600\\\\\" "));
}

TEST(CommandLine, LongestLineThatFitsAndOneCharacterMore) {
  // The prefix, the argument and its space take exactly 2047 characters.
  os_string longest(command_line_size - 1 - prefix.size() - 1, 'x');
  built at_bound = build({longest});
  EXPECT_TRUE(at_bound.fits);
  EXPECT_EQ(at_bound.line.size(), static_cast<size_t>(command_line_size - 1));
  EXPECT_TRUE(at_bound.guard_intact);

  built past = build({longest + OS_TEXT("x")});
  EXPECT_FALSE(past.fits);
  EXPECT_LT(past.line.size(), static_cast<size_t>(command_line_size));
  EXPECT_TRUE(past.guard_intact);

  // Quotes and escapes count: "x..x\"\\" and its space.
  os_string quoted = longest.substr(6) + OS_TEXT("\"\\");
  EXPECT_EQ(build({quoted}).line.size(), static_cast<size_t>(command_line_size - 1));
  built quoted_past = build({OS_TEXT("x") + quoted});
  EXPECT_FALSE(quoted_past.fits);
  EXPECT_TRUE(quoted_past.guard_intact);
}

TEST(CommandLine, ManyEmptyArgumentsStopAtTheBound) {
  built many = build(std::vector<os_string>(10000, os_string()));
  EXPECT_FALSE(many.fits);
  EXPECT_TRUE(many.guard_intact);
  // Each empty argument takes three characters; one plain argument fills the rest.
  size_t room = command_line_size - 1 - prefix.size();
  std::vector<os_string> empties(room / 3 - 1, os_string());
  empties.push_back(os_string(room - 3 * empties.size() - 1, 'x'));
  built fitting = build(empties);
  EXPECT_TRUE(fitting.fits);
  EXPECT_EQ(fitting.line.size(), static_cast<size_t>(command_line_size - 1));
  empties.push_back(os_string());
  EXPECT_FALSE(build(empties).fits);
}

TEST(CommandLine, ASetClientReplacesTheDefaultWord) {
  EXPECT_EQ(build({OS_TEXT("-n"), OS_TEXT("host")}, OS_TEXT("/opt/ftp/bin/ftp")).line,
            OS_TEXT("/opt/ftp/bin/ftp -n host "));
  // A path with blanks stays one word: quoted, as the system's own split expects.
  EXPECT_EQ(build({OS_TEXT("-n")}, OS_TEXT("C:\\Program Files\\ftp.exe")).line,
            OS_TEXT("\"C:\\Program Files\\ftp.exe\" -n "));
  EXPECT_EQ(build({}, OS_TEXT("tab\there")).line, OS_TEXT("\"tab\there\" "));
}

TEST(CommandLine, TheBoundCountsTheLongerClientWord) {
  os_string client(100, 'c');
  // The client word, its space, the argument and its space: exactly 2047 characters.
  os_string longest(command_line_size - 1 - 101 - 1, 'x');
  built at_bound = build({longest}, client.c_str());
  EXPECT_TRUE(at_bound.fits);
  EXPECT_EQ(at_bound.line, client + OS_TEXT(" ") + longest + OS_TEXT(" "));
  EXPECT_FALSE(build({longest + OS_TEXT("x")}, client.c_str()).fits);

  // Quotes count too.
  os_string blank_client = OS_TEXT("c ") + os_string(98, 'c');
  EXPECT_FALSE(build({longest}, blank_client.c_str()).fits);
  EXPECT_TRUE(build({longest.substr(2)}, blank_client.c_str()).fits);

  // A client word that cannot fit by itself leaves a terminated line.
  os_string huge(command_line_size, 'h');
  built past = build({}, huge.c_str());
  EXPECT_FALSE(past.fits);
  EXPECT_LT(past.line.size(), static_cast<size_t>(command_line_size));
  EXPECT_TRUE(past.guard_intact);
  os_string exact(command_line_size - 2, 'h');
  EXPECT_TRUE(build({}, exact.c_str()).fits);
  EXPECT_FALSE(build({os_string()}, exact.c_str()).fits);
}

#ifdef _WIN32
// The words the system's own splitter takes from `line`, the program's first.
std::vector<os_string> system_split(const os_string& line) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(line.c_str(), &count);
  std::vector<os_string> split(words, words + count);
  LocalFree(words);
  return split;
}
#endif

// Mostly short arguments of the characters the quoting cares about and of others, a
// fullwidth quotation mark and one outside the BMP among them; now and then a long one.
os_string random_argument(std::mt19937& random) {
  static const os_string pieces[] = {
      OS_TEXT(" "),  OS_TEXT("\t"),   OS_TEXT("\""),  OS_TEXT("\\"), OS_TEXT("\\"),
      OS_TEXT("a"),  OS_TEXT("b"),    OS_TEXT("\xe9"), OS_TEXT("\xff"), OS_TEXT("\n"),
      OS_TEXT("\v"), OS_TEXT("%"),    OS_TEXT("\uff02"), OS_TEXT("\U0001F600")};
  size_t length = random() % 8 == 0 ? random() % 200 : random() % 8;
  os_string argument;
  for (size_t i = 0; i < length; ++i) argument += pieces[random() % (sizeof pieces / sizeof *pieces)];
  return argument;
}

TEST(CommandLine, WrittenThenSplitGivesTheArgumentsBackOrIsRefused) {
  std::mt19937 random(2047);
  int refused = 0;
  for (int list = 0; list < 1500; ++list) {
    const os_char* client =
        list % 4 == 0 ? OS_TEXT("C:\\Program Files\\ftp.exe") : default_client;
    size_t client_part = build({}, client).line.size();
    std::vector<os_string> arguments;
    std::vector<os_string> want{client};
    size_t length = client_part;
    for (size_t count = random() % 160; arguments.size() < count;) {
      os_string argument = random_argument(random);
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
      ASSERT_EQ(split_command_line(line.line), want) << line.line;
#ifdef _WIN32
      ASSERT_EQ(system_split(line.line), want) << line.line;
#endif
    }
  }
  // Enough lists reach the bound for it to be tested at all.
  EXPECT_GT(refused, 100);
}

}  // namespace
