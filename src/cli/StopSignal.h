// Ctrl-C and termination requests while a conversion runs. The handler only records the
// signal; the command's loop sees it, stops the job the way the Stop button does (so the
// output gets its trailer) and waits for the job's end.
#pragma once

// Installs the handler for SIGINT and SIGTERM. Each is caught once: a second one of the same
// kind ends the program at once, for a job that does not stop.
void InstallStopSignalHandlers();

// The number of the first stop signal received, 0 while none came.
int StopSignalNumber();

// The end of a command: a process that a stop signal stopped ends here with `code`, the standard
// streams flushed, and without running any destructor. Every output is finished and reported by
// then, but the stopped conversions' threads may still be freeing their encoders (one stopped
// before its end may take seconds to let go of the pictures it holds): nothing waits for them,
// and nothing is freed under them. Otherwise returns `code`.
int EndOfCommand(int code);
