// The detail of a failed operation of the system: what it concerned and why it failed,
// said on standard error after the wrapper's own words about it.
#pragma once

#include "platform/platform.h"

// Takes down why the platform's last operation failed, for `what` (a path, a program):
// "<what>: <reason>". Call it before anything else can fail. Returns that text, valid
// until the next call.
const os_char* take_failure(const os_char* what);

// Writes the failure last taken on saved_stderr, as the console reads it, as its detail
// line: "veskar: <what>: <reason>" and a line feed.
void say_failure();
