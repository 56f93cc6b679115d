// Command groups of meshwick-jpeg, one source file each.
#pragma once

// meshwick-jpeg encode ...: argv[0] is "encode". Returns the process exit code.
int runEncodeCommand(int argc, char** argv);
