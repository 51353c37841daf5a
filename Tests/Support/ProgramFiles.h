// Running a program with its output captured in files rather than pipes.
#pragma once

#include "Tests/Support/TestProcess.h"

#include <string>

// Like RunProgram, but standard output and standard error go to temporary
// files that are read back once the program has ended. A process that the
// program starts and that keeps a copy of its handles (as the desktop
// process Wine starts for the first program that asks for the desktop) then
// cannot hold the run open the way it holds a pipe.
ProgramResult RunProgramWithFiles(const std::string& strPath, const std::string& strArguments,
                                  DWORD dwTimeoutMs = 60000);
