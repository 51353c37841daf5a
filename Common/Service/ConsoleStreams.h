// The console streams of both programs.
#pragma once

// Makes standard output and standard error pass their bytes unchanged, so
// that every message ends in the single line feed it is written with, on a
// console, a pipe or a file alike (text mode would add a carriage return).
void UseExactConsoleStreams();
