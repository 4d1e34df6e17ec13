#include "project/CurrentProject.h"

#include "model/Global.h"
#include "project/VellisyncProject.h"

std::unique_ptr<TVellisyncProject> CurrentProject;

void InitializeGlobals() {
    InitializeModelGlobals();
    CurrentProject = std::make_unique<TVellisyncProject>();
}
