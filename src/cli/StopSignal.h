// Ctrl-C and termination requests while a conversion runs. The handler only records the
// signal; the command's loop sees it, stops the job the way the Stop button does (so the
// output gets its trailer) and waits for the job's end.
#pragma once

// Installs the handler for SIGINT and SIGTERM. Each is caught once: a second one of the same
// kind ends the program at once, for a job that does not stop.
void InstallStopSignalHandlers();

// The number of the first stop signal received, 0 while none came.
int StopSignalNumber();
