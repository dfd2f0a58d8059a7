#include "job_flags.h"

std::atomic<int> gMAX_THREAD{1};
std::atomic<BOOL> gSaveToFile{FALSE};
std::atomic<BOOL> gJbigThreadExit{FALSE};
int gOutputSize = 0;
std::atomic<DWORD> gSideCopies{1};
