// The run's walk down to the folders it works in (shared/folder_walk.h): each folder
// it creates is one step of the run (engine/extraction_pace.h).
#pragma once
#include "engine/extraction_pace.h"
#include "shared/folder_walk.h"

class FolderChain : public FolderWalk {
 public:
  FolderChain() : FolderWalk(&CountRunStep) {}
};
