// The main job of skupdate: registers with the update library, then opens,
// judges, draws, updates and closes each file in turn, printing one line per
// file and a summary.
#pragma once

#include "skupdate/options.h"

// Exit statuses of a run.
constexpr int kExitDone = 0;        // every file current or updated (or judged)
constexpr int kExitFileFailed = 1;  // some file failed, or the run stopped
constexpr int kExitUsage = 2;       // the command line was wrong
constexpr int kExitNoRegister = 3;  // the library could not register

// Runs the job over options.files; the exit status.
int RunUpdateJob(const Options &options);
