// Must not compile with -Werror=unused-result: a status call's result that
// is dropped unread is a failure gone unnoticed.
#include "Dmm.h"

void readAndForget(korvane::Dmm &meter) { meter.voltageReading(); }
