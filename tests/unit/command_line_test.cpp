#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "command_line.h"

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

const std::string prefix = std::string(default_client) + " ";

TEST(CommandLine, EveryArgumentIsFollowedByOneSpace) {
  EXPECT_EQ(build({}).line, prefix);
  EXPECT_EQ(build({"-s:upload.txt", "host"}).line, prefix + "-s:upload.txt host ");
  EXPECT_EQ(build({"two words", ""}).line, prefix + "two words  ");
  EXPECT_EQ(build({"a\"b%c\\d\xe9"}).line, prefix + "a\"b%c\\d\xe9 ");
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
}

TEST(CommandLine, ManyEmptyArgumentsStopAtTheBound) {
  built many = build(std::vector<std::string>(10000, ""));
  EXPECT_FALSE(many.fits);
  EXPECT_TRUE(many.guard_intact);
  built fitting = build(std::vector<std::string>(command_line_size - 1 - prefix.size(), ""));
  EXPECT_TRUE(fitting.fits);
  EXPECT_EQ(fitting.line, prefix + std::string(command_line_size - 1 - prefix.size(), ' '));
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

}  // namespace
