#pragma once

#include <memory>

class TVellisyncProject;

// The project that the wizard edits, runs and saves; lives until the program ends.
extern std::unique_ptr<TVellisyncProject> CurrentProject;

// Start-up of the program's globals: seeds the random generator from the
// clock, sets ProjectsFolder to DefaultProjectsFolder() and creates
// CurrentProject with the plain constructor (no defaults). Calling it again
// starts them afresh.
void InitializeGlobals();
