// The statuses a run ends with: what a script reads.
#pragma once

enum run_status {
  status_no_sign = 0,
  status_setup_failed = 1,   // the client could not be set up or started
  status_known_message = 2,  // the first sign was one of the known failure messages
  status_error_reply = 3,    // the first sign was an FTP error reply line
  status_stalled = 4,        // the client was stopped for inactivity
  status_client_failed = 5,  // the client ended with a failure of its own
};
