// libFuzzer target: the client's command line. The input is an argument list, its words
// separated by 0x00 bytes, which no argument can hold. The first word is the client's
// name when it is not empty and holds no double quote; otherwise the default client is.
// It checks that the line build_command_line writes splits back, as the C runtime
// splits it, into the very same words, or that it was refused only past the bound. The
// line is a heap block of exactly the size the contract gives, so that ASan catches any
// byte written beyond it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "command_line_split.h"
#include "platform/windows/command_line.h"

namespace {

void fail(const char* what) {
  fprintf(stderr, "command_line_fuzzer: %s\n", what);
  abort();
}

// Builds the line for the client and arguments[1] on; false when refused.
bool build(std::string* line, const char* client, const std::vector<const char*>& arguments) {
  char* area = static_cast<char*>(malloc(command_line_size));
  bool fits =
      build_command_line(area, client, static_cast<int>(arguments.size()), arguments.data());
  size_t length = strnlen(area, command_line_size);
  if (length == command_line_size) fail("the line is not terminated");
  if (fits && length > command_line_size - 1) fail("a line past the bound was taken");
  line->assign(area, length);
  free(area);
  return fits;
}

// Refused though within the bound: the line without the last argument fits, and the
// last argument's share of a line (written after the client word alone) fits after it.
bool refused_within_bound(const char* client, const std::vector<const char*>& arguments) {
  std::string without_last, client_only, last_alone;
  std::vector<const char*> shorter(arguments.begin(), arguments.end() - 1);
  if (!build(&without_last, client, shorter) || !build(&client_only, client, {arguments[0]}) ||
      !build(&last_alone, client, {arguments[0], arguments.back()}))
    return false;
  return without_last.size() + last_alone.size() - client_only.size() <= command_line_size - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }
  bool own_client = !words[0].empty() && words[0].find('"') == std::string::npos;
  const char* client = own_client ? words[0].c_str() : default_client;
  std::vector<const char*> arguments{"veskar"};
  for (size_t w = 1; w < words.size(); ++w) arguments.push_back(words[w].c_str());

  std::string line;
  if (!build(&line, client, arguments)) {
    if (arguments.size() > 1 && refused_within_bound(client, arguments))
      fail("a line within the bound was refused");
    return 0;
  }
  std::vector<std::string> split = split_command_line(line);
  if (split.size() != arguments.size()) fail("the split gives another number of words");
  if (split[0] != client) fail("the split gives another client word");
  for (size_t w = 1; w < split.size(); ++w)
    if (split[w] != arguments[w]) fail("the split gives another argument");
  return 0;
}
