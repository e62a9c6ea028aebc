// The client's prompts, as the line so far shows them: a row per rule, each with the
// writes that make the line and whether it is a prompt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_text.h"
#include "run/prompt.h"
#include "settings/settings.h"

namespace {

struct prompt_row {
  const char* rule;
  std::vector<std::string> writes;
  bool shown;
};

const prompt_row rows[] = {
    {"the client's prompt", {"220 ready\r\n", "ftp> "}, true},
    {"prompts after empty lines, a byte a write", {"f", "t", "p", ">", " ", "ftp", "> "}, true},
    {"a prompt cut short", {"ftp>"}, false},
    {"a reply on the prompt's line", {"ftp> 550 No such file.\r\n"}, false},
    {"a reply on its way: only the line so far counts", {"ftp> ", "550 x: "}, false},
    {"a reply on its way, after its line feed", {"ftp> \r\n", "550 x: "}, false},
    {"a line that ended", {"ftp> \n"}, false},
    {"nothing yet", {}, false},
    {"the system's login", {"220 ready\r\n", "User (ftp.example.com:(none)): "}, true},
    {"the ports' login", {"Name (host:me): "}, true},
    {"a login prompt cut short", {"Name (host:"}, false},
    {"a login prompt's start alone", {"User ("}, false},
    {"a login prompt after a prompt", {"ftp> Name (host:me): "}, true},
    {"a login prompt past the line's start", {"x User (host:me): "}, false},
    {"the password", {"331 Password required.\r\n", "Password:"}, true},
    {"the password, and a blank", {"Password: "}, true},
    {"more after the password", {"Password: x"}, false},
    {"a question of mget", {"mget a.txt? "}, true},
    {"a question's start alone", {"mget "}, false},
    {"the site's prompt ends the line", {"Kennwort:"}, true},
    {"the site's prompt and a blank", {"Benutzer (host:(none)): "}, true},
    {"the site's prompt and two blanks", {"Kennwort:  "}, false},
    {"the site's prompt anywhere else", {"Kennwort: x"}, false},
    {"blanks", {"     "}, false},
};

std::string prompts(size_t count) {
  std::string text;
  for (size_t n = 0; n < count; ++n) text += "ftp> ";
  return text;
}

TEST(Prompt, Rules) {
  ASSERT_EQ(take_prompt_list(ascii("Kennwort:;(none)): ").c_str()), nullptr);
  for (const prompt_row& row : rows) {
    start_prompt_line();
    for (const std::string& write : row.writes) note_prompt_output(write.data(), write.size());
    EXPECT_EQ(prompt_shown(), row.shown) << row.rule;
  }
  // Past the bytes kept of a line: a thousand prompts, then the site's prompt after text.
  start_prompt_line();
  std::string many = prompts(1000);
  note_prompt_output(many.data(), many.size());
  EXPECT_TRUE(prompt_shown());
  std::string after = std::string(600, 'x') + "Kennwort:";
  note_prompt_output(after.data(), after.size());
  EXPECT_TRUE(prompt_shown());
  ASSERT_EQ(take_prompt_list(nullptr), nullptr);
  EXPECT_FALSE(prompt_shown());
}

}  // namespace
