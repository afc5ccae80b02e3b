#pragma once

// The whole run: banner, version switch, prerequisite checks and the
// registration of the first installed edition. Returns the exit status:
// 1 when a prerequisite is missing, 0 otherwise.
int RunEnabler(int argc, char* argv[]);
