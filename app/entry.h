// The process entry: checks the command line, shows the usage, or runs the merge job once and
// turns every failure that escapes it into the error box.
#pragma once

namespace app {

// Runs the tool for the given process arguments and returns the process exit status.
int RunEntry(int argc, char** argv);

}  // namespace app
