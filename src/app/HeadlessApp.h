#pragma once
// `lumvane --headless`: the application service without status item or windows, for
// machines without a display, demos and the end-to-end tests.
//
// Start-up: the log files, the service-side start-up steps (StartupSteps), the phone
// link on the chosen Bluetooth back end, the servers on 19521 (and 19523/19524 when a
// local TLS identity exists), then, with --pair, the QR pairing, whose invitation URL and
// QR code go to standard output. Questions to the user are answered as cancelled.
// SIGTERM or SIGINT stop the phone link and the servers, flush the logs and end the run.
//
// A second copy for the same settings folder says so and ends at once (SingleInstance).
//
// Standard output carries one line per event, for people and for scripts:
//   lumvane: Lumvane is already running (process N); this copy ends without changing ...
//   lumvane: the settings file could not be read and was moved aside to ...
//   lumvane: no Secret Service ... | the phone is reached only while ... | no usable ...
//            (StartupNotices: each once per start, what is off and what to do)
//   lumvane: serving http://127.0.0.1:19521/thrift [and https on 19523, 19524]
//   lumvane: Ctrl-C stops it; to pair a phone, start it with --pair ... (or, with --pair,
//            scan the QR code ...)
//   lumvane: native-messaging host registered with Chrome, Firefox | no supported browser ...
//   lumvane: pairing URL: https://...
//   lumvane: pairing status: ...
//   lumvane: paired (connection type N) | lumvane: pairing failed: ...
//   lumvane: stopped
#include "app/CommandLine.h"

namespace lumvane {

// Exit status when another copy runs with the same settings folder (nothing was touched).
constexpr int kExitAlreadyRunning = 3;

// Runs until SIGTERM or SIGINT; returns the exit status (0 after a clean stop, 1 when
// the service cannot start, 2 for a bad environment such as an unusable --ble value,
// kExitAlreadyRunning when another copy runs).
int runHeadless(const CommandLine& commandLine);

}  // namespace lumvane
