#pragma once

// The client's life from start to end, around its main window:
//  1. SIGTERM, SIGINT and SIGHUP become close requests (TerminationSignals).
//  2. A second instance (the lock "Vexor" is held, in the runtime folder or
//     in the program folder) exits at once with status 0 and shows nothing.
//     A lock that cannot be created (an unusable runtime folder) is reported
//     on stderr and ends the program with status 1.
//  3. The application object; the shared state from the program folder
//     ($VEXOR_PROGRAM_FOLDER, else the executable's folder);
//     the language object with "English"; the client identifier from the
//     registry value "VexorID" of "Software\Vexor".
//  4. The main window (which reads the settings and starts everything else),
//     the language download dialog and the about box; the main window is shown.
//  5. The event loop runs until the main window has closed (its close request
//     wrote the settings).
//  6. The windows go (the main window stops the download thread and cleans up
//     the modules), then the language object, then the lock.
// An error in step 3 (an unusable VEXOR_PROGRAM_FOLDER among them) is shown
// in a message box (and on stderr) and ends the program with status 1.
namespace vexor {

int RunVexor(int argc, char** argv);

}  // namespace vexor
