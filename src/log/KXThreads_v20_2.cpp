#include "log/KXThreads_v20_2.h"

TKXThreadSafetyClass::~TKXThreadSafetyClass() = default;

void TKXThreadSafetyClass::Lock() { FLock.Enter(); }

void TKXThreadSafetyClass::Unlock() { FLock.Leave(); }
