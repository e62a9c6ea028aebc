#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "os_text.h"
#include "settings/settings.h"
#include "settings/text_list.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool ignored(const std::string& line) { return sign_ignored(line.data(), line.size()); }

void set_variable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value == nullptr)
    unsetenv(name);
  else
    setenv(name, value, 1);
#endif
}

// Leaves every setting as unset, in the environment and in the module.
struct Settings : ::testing::Test {
  void TearDown() override {
    for (const char* name : {"VESKAR_IDLE_TIMEOUT", "VESKAR_IGNORE", "VESKAR_SIGNS", "VESKAR_FTP",
                             "VESKAR_ON_FAILURE", "VESKAR_PROMPTS"})
      set_variable(name, nullptr);
    EXPECT_EQ(read_settings(), nullptr);
  }
};

TEST_F(Settings, IdleTimeoutWholeSecondsInRange) {
  EXPECT_EQ(take_idle_timeout("1"), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 1u);
  EXPECT_EQ(take_idle_timeout("604800"), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 604800u);
  EXPECT_EQ(take_idle_timeout("0042"), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 42u);
  for (const char* off : {"0", "", "000", "-0"}) {
    EXPECT_EQ(take_idle_timeout(off), nullptr) << off;
    EXPECT_EQ(idle_timeout_seconds, 0u) << off;
  }
  EXPECT_EQ(take_idle_timeout(nullptr), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 0u);
}

TEST_F(Settings, IdleTimeoutBadValuesLeaveItOff) {
  const std::string not_number = "VESKAR_IDLE_TIMEOUT is not a whole number of seconds";
  const std::string out_of_range =
      "VESKAR_IDLE_TIMEOUT is out of range: 1 to 604800 seconds, or 0 for none";
  for (const char* bad : {"x", "5s", " 5", "5 ", "+5", "1.5", "1e3", "0x10", "-", "--5", "5-"}) {
    take_idle_timeout("7");
    const char* problem = take_idle_timeout(bad);
    ASSERT_NE(problem, nullptr) << bad;
    EXPECT_EQ(problem, not_number) << bad;
    EXPECT_EQ(idle_timeout_seconds, 0u) << bad;
  }
  // Far past any integer type: must not wrap round into range.
  for (std::string bad : {std::string("604801"), std::string("-1"), std::string("4294967297"),
                          std::string("18446744073709551617"), std::string(300, '9')}) {
    take_idle_timeout("7");
    const char* problem = take_idle_timeout(bad.c_str());
    ASSERT_NE(problem, nullptr) << bad;
    EXPECT_EQ(problem, out_of_range) << bad;
    EXPECT_EQ(idle_timeout_seconds, 0u) << bad;
  }
}

TEST_F(Settings, IgnoreListMatchesAnyTextAnywhereInTheLine) {
  ASSERT_EQ(take_ignore_list(ascii("550 File exists;;Not connected.;").c_str()), nullptr);
  EXPECT_TRUE(ignored("550 File exists."));
  EXPECT_TRUE(ignored("ftp> Not connected."));
  EXPECT_TRUE(ignored("Not connected."));
  EXPECT_FALSE(ignored("550 File exist"));
  EXPECT_FALSE(ignored("550 file exists"));  // byte for byte, case and all
  EXPECT_FALSE(ignored("Not connected"));
  EXPECT_FALSE(ignored(""));
  // The length given counts, not a terminator: bytes past it are not looked at.
  const char line[] = "550 File exists.";
  EXPECT_FALSE(sign_ignored(line, 10));
  EXPECT_TRUE(sign_ignored(line, 15));
  // Zero bytes and other bytes in the line are just bytes.
  EXPECT_TRUE(ignored(std::string("\0\xff 550 File exists\0", 20)));
}

TEST_F(Settings, IgnoreListEmptyOrUnsetIgnoresNothing) {
  for (const char* value : {"", ";", ";;;;", static_cast<const char*>(nullptr)}) {
    ASSERT_EQ(take_ignore_list(value ? ascii(value).c_str() : nullptr), nullptr);
    EXPECT_FALSE(ignored("550 File exists.")) << (value ? value : "unset");
    EXPECT_FALSE(ignored(";")) << (value ? value : "unset");
  }
}

TEST_F(Settings, IgnoreListLimits) {
  // 32 texts of 255 characters fit, with the whole at 4095 characters at most.
  std::string list;
  for (int t = 0; t < 15; ++t) list += std::string(254, 'a') + static_cast<char>('A' + t) + ";";
  for (int t = 0; t < 17; ++t) list += "#" + std::string(1, static_cast<char>('a' + t)) + ";";
  list.resize(max_list_length, ';');
  ASSERT_EQ(take_ignore_list(ascii(list).c_str()), nullptr);
  EXPECT_TRUE(ignored(std::string(254, 'a') + "O"));  // the 15th long text, whole
  EXPECT_FALSE(ignored(std::string(253, 'a') + "O"));
  EXPECT_TRUE(ignored("x#qx"));  // the 32nd text
  EXPECT_FALSE(ignored("x#rx"));

  EXPECT_STREQ(take_ignore_list(ascii(list + ";").c_str()),
               "VESKAR_IGNORE is longer than 4095 characters");
  std::string texts;
  for (int t = 0; t < 33; ++t) texts += "t" + std::to_string(t) + ";";
  EXPECT_STREQ(take_ignore_list(ascii(texts).c_str()), "VESKAR_IGNORE holds more than 32 texts");
  EXPECT_FALSE(ignored("t1"));  // a refused list ignores nothing
  EXPECT_STREQ(take_ignore_list(ascii("a;" + std::string(256, 'b')).c_str()),
               "VESKAR_IGNORE holds a text longer than 255 characters");
  EXPECT_FALSE(ignored("a"));
  EXPECT_EQ(take_ignore_list(ascii("a;" + std::string(255, 'b')).c_str()), nullptr);
  EXPECT_TRUE(ignored(std::string(255, 'b')));
}

// The site's own signs take the ignore list's rules and limits, in their own words, and
// no text shorter than the search places.
TEST_F(Settings, SignListTakesTheListRulesAndRefusesShortTexts) {
  ASSERT_EQ(take_sign_list(ascii(";Verbindung abgelehnt;;fehl;").c_str()), nullptr);
  auto sign = [](size_t n) {
    size_t length = 0;
    const char* text = site_sign(n, &length);
    return std::string(text, length);
  };
  ASSERT_EQ(site_sign_count(), 2u);
  EXPECT_EQ(sign(0), "Verbindung abgelehnt");
  EXPECT_EQ(sign(1), "fehl");
  // The blanks around a text go, those inside stay; a text of blanks alone is none.
  ASSERT_EQ(take_sign_list(ascii("Quota exceeded; Permission refused\t;  \t ;\tab c ").c_str()), nullptr);
  ASSERT_EQ(site_sign_count(), 3u);
  EXPECT_EQ(sign(1), "Permission refused");
  EXPECT_EQ(sign(2), "ab c");
  EXPECT_STREQ(take_sign_list(ascii("  abc ").c_str()), "VESKAR_SIGNS holds a text shorter than 4 characters");
  ASSERT_EQ(take_sign_list(ascii("    ").c_str()), nullptr);
  EXPECT_EQ(site_sign_count(), 0u);
  const std::pair<std::string, const char*> bad[] = {
      {"ok text;abc", "VESKAR_SIGNS holds a text shorter than 4 characters"},
      {"abcd;" + std::string(256, 'b'), "VESKAR_SIGNS holds a text longer than 255 characters"},
      {std::string(4096, ';'), "VESKAR_SIGNS is longer than 4095 characters"}};
  for (const auto& row : bad) {
    EXPECT_STREQ(take_sign_list(ascii(row.first).c_str()), row.second);
    EXPECT_EQ(site_sign_count(), 0u);
  }
  std::string texts;
  for (int t = 0; t < 33; ++t) texts += "text" + std::to_string(t) + ";";
  EXPECT_STREQ(take_sign_list(ascii(texts).c_str()), "VESKAR_SIGNS holds more than 32 texts");
  // Read from the environment at start-up.
  set_variable("VESKAR_SIGNS", "abc");
  EXPECT_STREQ(read_settings(), "VESKAR_SIGNS holds a text shorter than 4 characters");
  set_variable("VESKAR_SIGNS", nullptr);
}

// Two words, spelled exactly; unset or empty is the first.
TEST_F(Settings, OnFailureContinueOrStop) {
  const std::pair<const char*, bool> good[] = {{"stop", true}, {"continue", false}, {"", false}};
  for (const auto& row : good) {
    take_on_failure("stop");
    EXPECT_EQ(take_on_failure(row.first), nullptr) << row.first;
    EXPECT_EQ(stop_on_failure, row.second) << row.first;
  }
  EXPECT_EQ(take_on_failure(nullptr), nullptr);
  EXPECT_FALSE(stop_on_failure);
  for (const char* bad : {"Stop", "stop ", " stop", "halt", "1", "stop;continue"}) {
    take_on_failure("stop");
    EXPECT_STREQ(take_on_failure(bad), "VESKAR_ON_FAILURE is neither continue nor stop") << bad;
    EXPECT_FALSE(stop_on_failure) << bad;
  }
  set_variable("VESKAR_ON_FAILURE", "never");
  EXPECT_STREQ(read_settings(), "VESKAR_ON_FAILURE is neither continue nor stop");
}

// The site's prompts take the ignore list's rules and limits, in their own words.
TEST_F(Settings, PromptListTakesTheListRules) {
  ASSERT_EQ(take_prompt_list(ascii(" Kennwort: ;;>").c_str()), nullptr);
  ASSERT_EQ(site_prompt_count(), 2u);
  auto prompt = [](size_t n) {
    size_t length = 0;
    const char* text = site_prompt(n, &length);
    return std::string(text, length);
  };
  EXPECT_EQ(prompt(0), "Kennwort:");
  EXPECT_EQ(prompt(1), ">");
  std::string texts;
  for (int t = 0; t < 33; ++t) texts += "p" + std::to_string(t) + ";";
  EXPECT_STREQ(take_prompt_list(ascii(texts).c_str()), "VESKAR_PROMPTS holds more than 32 texts");
  EXPECT_EQ(site_prompt_count(), 0u);
  set_variable("VESKAR_PROMPTS", std::string(256, 'p').c_str());
  EXPECT_STREQ(read_settings(), "VESKAR_PROMPTS holds a text longer than 255 characters");
}

TEST_F(Settings, ClientReplacesTheDefault) {
  ASSERT_EQ(take_client(nullptr), nullptr);
  EXPECT_STREQ(client_program(), default_client);
  ASSERT_EQ(take_client(OS_TEXT("")), nullptr);
  EXPECT_STREQ(client_program(), default_client);
  ASSERT_EQ(take_client(OS_TEXT("C:\\Windows\\System32\\ftp.exe")), nullptr);
  EXPECT_STREQ(client_program(), OS_TEXT("C:\\Windows\\System32\\ftp.exe"));
#ifdef _WIN32
  // The command line's own rules: no double quote in the name, which is quoted when it
  // holds a blank, and the name and its space must fit the line by themselves.
  EXPECT_STREQ(take_client(OS_TEXT("\"C:\\Program Files\\ftp.exe\"")),
               "VESKAR_FTP holds a double quote");
  EXPECT_STREQ(client_program(), default_client);
  os_string longest(max_program_length, 'c');
  EXPECT_EQ(take_client(longest.c_str()), nullptr);
  EXPECT_EQ(client_program(), longest);
  EXPECT_STREQ(take_client((longest + OS_TEXT("c")).c_str()), "Command line too long");
  EXPECT_STREQ(client_program(), default_client);
#else
  // exec takes any name as it is: double quotes, and a length far past Windows's bound.
  os_string name = OS_TEXT("/opt/\"ftp\"/") + os_string(5000, 'c');
  EXPECT_EQ(take_client(name.c_str()), nullptr);
  EXPECT_EQ(client_program(), name);
#endif
}

TEST_F(Settings, ReadFromTheEnvironment) {
  set_variable("VESKAR_IDLE_TIMEOUT", "30");
  set_variable("VESKAR_IGNORE", "File exists");
  set_variable("VESKAR_FTP", "my-ftp");
  ASSERT_EQ(read_settings(), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 30u);
  EXPECT_TRUE(ignored("550 File exists."));
  EXPECT_STREQ(client_program(), OS_TEXT("my-ftp"));

  // The first bad value is the one reported.
  set_variable("VESKAR_IDLE_TIMEOUT", "soon");
  set_variable("VESKAR_IGNORE", std::string(5000, 'x').c_str());
  EXPECT_STREQ(read_settings(), "VESKAR_IDLE_TIMEOUT is not a whole number of seconds");
  set_variable("VESKAR_IDLE_TIMEOUT", std::string(5000, '1').c_str());
  EXPECT_STREQ(read_settings(),
               "VESKAR_IDLE_TIMEOUT is out of range: 1 to 604800 seconds, or 0 for none");
  // Read whole, however long: not cut to fit some room.
  set_variable("VESKAR_IDLE_TIMEOUT", std::string(5000, 'x').c_str());
  EXPECT_STREQ(read_settings(), "VESKAR_IDLE_TIMEOUT is not a whole number of seconds");
  set_variable("VESKAR_IDLE_TIMEOUT", (std::string(30000, '0') + "5").c_str());
  set_variable("VESKAR_IGNORE", nullptr);
  EXPECT_EQ(read_settings(), nullptr);
  EXPECT_EQ(idle_timeout_seconds, 5u);
  set_variable("VESKAR_IGNORE", std::string(5000, 'x').c_str());
  set_variable("VESKAR_IDLE_TIMEOUT", nullptr);
  EXPECT_STREQ(read_settings(), "VESKAR_IGNORE is longer than 4095 characters");
  set_variable("VESKAR_IGNORE", nullptr);
  set_variable("VESKAR_FTP", std::string(5000, 'c').c_str());
#ifdef _WIN32
  EXPECT_STREQ(read_settings(), "Command line too long");
#else
  EXPECT_EQ(read_settings(), nullptr);
  EXPECT_EQ(client_program(), std::string(5000, 'c'));
#endif
  set_variable("VESKAR_FTP", nullptr);
}

}  // namespace
