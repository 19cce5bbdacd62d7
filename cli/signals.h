#pragma once
// Ctrl-C during a run. The first SIGINT only raises a flag, which the
// reporter turns into the next event's cancel, so the run stops where the
// library can stop it cleanly (an import keeps what it stored, an export
// writes no file). The handler resets itself: a second SIGINT while the run
// is stopping ends the process with the default action.

namespace morvent::cli {

// Installs the handler; writes cut short by the signal are restarted, so
// the output of the run is not lost to it.
void CatchInterrupt();

// Whether a SIGINT arrived since CatchInterrupt.
bool Interrupted();

}  // namespace morvent::cli
