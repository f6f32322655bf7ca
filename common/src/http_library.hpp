#pragma once

namespace kov::http {

// Starts the HTTP library (curl_global_init) once per process, with the first client; false
// when it does not start.
bool start_library();

// Shuts the HTTP library down (curl_global_cleanup) when it was started, for the process exit.
void shut_down_library();

} // namespace kov::http
