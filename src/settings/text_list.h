// A setting's list of texts, separated by ';', each kept in every encoding the client
// may write it in.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

enum {
  max_list_texts = 32,
  max_list_text_length = 255,  // characters: bytes on POSIX, UTF-16 units on Windows
  max_list_length = 4095,      // the whole value, in the same characters
  max_list_forms = max_list_texts * max_client_encodings,
};

// The texts of a list, each in every encoding the client may write it in: its forms,
// the distinct ones only (an ASCII text has one), each with the first client encoding
// that writes it so.
struct text_list {
  char bytes[max_list_length * 8];  // every form, one after another
  size_t start[max_list_forms];
  size_t length[max_list_forms];
  size_t encoding[max_list_forms];
  size_t count;  // forms
};

// What a value can get wrong, in the words of one variable.
struct list_messages {
  const char* too_long;        // the whole value
  const char* too_many;        // texts
  const char* text_too_long;   // a text
  const char* text_too_short;  // a text, shorter than the shortest asked for
  const char* unwritable;      // a text no encoding of the client can write
};

// Takes `value` (`length` characters; nullptr when unset) into `list`: texts separated
// by ';', each without the blanks (spaces, tabs) around it, empty ones skipped, each `shortest` to max_list_text_length characters.
// Returns nullptr, or what is wrong, with the list left empty.
const char* take_text_list(text_list* list, const os_char* value, size_t length, size_t shortest,
                           const list_messages* messages);

// Whether text[0, length) holds one of the list's forms.
bool list_holds(const text_list* list, const char* text, size_t length);

// The length of the list's longest form; 0 for an empty list.
size_t longest_form(const text_list* list);
