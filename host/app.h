// The `vantlow` command as a function, so that the program and test-only
// variants of it (which first arrange something through the platform's test
// seams) run exactly the same code.
#pragma once

namespace vantlow::host {

// Runs `vantlow [OPTIONS] [PATH...]` and returns its exit status: 0
// success; 1 a plug-in call failed or no plug-in added anything; 2 a usage
// error, no PATH left, no plug-in found, or the choice needs a terminal and
// there is none; 130 interrupted. Sets the locale from the environment
// first. Changes the process: file descriptor 1 points at standard error
// from then on (the plug-ins' log lines go there) while the program's own
// output goes to the original standard output, and signal handlers are
// installed.
int RunVantlow(int argc, char **argv);

} // namespace vantlow::host
