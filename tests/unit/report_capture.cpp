#include "report_capture.h"

#include <stdio.h>

#include "handles.h"
#include "scan/report.h"

#ifdef _WIN32
#include <io.h>
#endif

namespace {
FILE* capture_file = nullptr;
}

void begin_capture() {
  if (capture_file != nullptr) fclose(capture_file);
  capture_file = tmpfile();
  fflush(capture_file);
#ifdef _WIN32
  saved_stdout = static_cast<os_handle>(_get_osfhandle(_fileno(capture_file)));
#else
  saved_stdout = fileno(capture_file);
#endif
  exit_status = 0;
  note_stdout("\n", 1);  // a fresh stdout, at a line's start
}

std::string end_capture() {
  std::string bytes;
  rewind(capture_file);
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, capture_file)) > 0) bytes.append(buffer, count);
  fclose(capture_file);
  capture_file = nullptr;
  saved_stdout = no_handle;
  return bytes;
}

std::string banner_only() { return "*************** Error Found ***************\n"; }

std::string report(const std::string& text) { return banner_only() + "Error text: " + text + "\n"; }

int scan_piece(const char* text, size_t length, char before) {
  find_signs(text, length, before, report_found, nullptr);
  return exit_status;
}
