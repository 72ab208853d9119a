// Must not compile with -Werror=unused-result: a status call's result that
// is dropped unread is a failure gone unnoticed.
#include "Meter.h"

void readAndForget(korvane::Meter &meter) { meter.voltage(); }
