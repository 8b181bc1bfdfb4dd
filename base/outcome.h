// How a run, or one step of it, ended. The layers below the sequence return these instead of telling the
// user themselves; the sequence and the serving of a stage turn them into the system's message in one
// place (app/report.h), and the front ends read the last one for their exit status.
#pragma once

namespace qor {

enum class Outcome {
  none,                    // nothing went wrong (yet)
  declined,                // the user cancelled the warning or the address dialog: ends silently
  upgraded,                // the device reports the served version and the success dialog was shown
  networking_failed,       // the platform's socket library would not start
  user_abort,              // Cancel anywhere after the address dialog
  no_response,             // the status page could not be read
  http_socket_failed,      // no TCP socket could be created
  http_bind_failed,        // none of the 101 local ports could be bound
  listener_alloc_failed,   // the listener's record or thread could not be had
  listener_socket_failed,  // no UDP socket could be created
  listener_bind_failed,    // none of UDP ports 69 to 168 could be bound
  session_alloc_failed,    // the transfer's record could not be had
  upload_incomplete,       // the device stopped acknowledging
  version_not_matching,    // the device reports another version than the one served
};

}  // namespace qor
