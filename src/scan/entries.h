// What a run searches for: the built-in tables, the C library's texts among them in
// the language the client runs in, and the site's own texts (VESKAR_SIGNS), in that
// order. The search never reads a setting: its entries come from here, at start-up.
#pragma once

// Places every entry in the search's index, after read_settings. Returns nullptr, or
// the message for report_fatal.
const char* prepare_search();
