// Windows: why the last operation failed, in the system's words, and text as the
// console reads it.
#include "shared.h"

namespace {

// Appends text[0, length) at out[*used] while it and the terminator fit.
void append(os_char* out, size_t capacity, size_t* used, const os_char* text, size_t length) {
  for (size_t c = 0; c < length && *used + 1 < capacity; ++c) out[(*used)++] = text[c];
  out[*used] = L'\0';
}

size_t length_of(const os_char* text) {
  size_t length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

}  // namespace

size_t describe_failure(const os_char* what, os_char* out, size_t capacity) {
  DWORD code = GetLastError();
  size_t used = 0;
  append(out, capacity, &used, what, length_of(what));
  append(out, capacity, &used, L": ", 2);
  // English where the system has it; else its own language. Every placeholder (%1: "the
  // program") is `what`.
  static wchar_t reason[1024];
  DWORD_PTR inserts[9];
  for (DWORD_PTR& insert : inserts) insert = reinterpret_cast<DWORD_PTR>(what);
  va_list* arguments = reinterpret_cast<va_list*>(inserts);
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  DWORD length = FormatMessageW(flags, nullptr, code, english, reason, 1024, arguments);
  if (length == 0) length = FormatMessageW(flags, nullptr, code, 0, reason, 1024, arguments);
  while (length > 0 && (reason[length - 1] == L' ' || reason[length - 1] == L'\r' || reason[length - 1] == L'\n'))
    --length;
  if (length == 0) {
    // No message for the code: the code itself.
    wchar_t digits[16];
    size_t count = 0;
    do digits[count++] = static_cast<wchar_t>(L'0' + code % 10);
    while ((code /= 10) != 0);
    append(out, capacity, &used, L"error ", 6);
    while (count > 0) append(out, capacity, &used, &digits[--count], 1);
    return used;
  }
  append(out, capacity, &used, reason, length);
  return used;
}

bool write_os_text(os_handle handle, const os_char* text, size_t length) {
  // The console's own page where there is a console; the OEM one, as ftp.exe writes,
  // where output goes to a file.
  UINT page = GetConsoleOutputCP();
  if (page == 0) page = GetOEMCP();
  static char bytes[4 * 4096];
  int written = length == 0 ? 0
                            : WideCharToMultiByte(page, 0, text, static_cast<int>(length), bytes,
                                                  static_cast<int>(sizeof bytes), nullptr, nullptr);
  return written > 0 && write_handle(handle, bytes, static_cast<size_t>(written));
}
