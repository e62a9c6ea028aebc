// Windows: whether the client waits for its next line. The system cannot tell that of a
// pipe's reader (and Wine keeps no pipe quotas to look at), so the client's prompts do,
// once the pump holds nothing the client printed before them.
#include "platform/platform.h"

const bool waiting_shown_by_prompt = true;

const char* waiting_unseen() { return nullptr; }

bool client_waits(bool prompt_shown) { return prompt_shown && !pump_holds_output(); }
