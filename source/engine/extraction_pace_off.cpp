#include "engine/extraction_pace.h"

void PaceExtractedFile() {}
void CountRunStep() {}
