#pragma once

// Waits ms milliseconds in a local event loop ended by a single-shot timer;
// the GUI keeps processing events meanwhile. Needs a QCoreApplication.
void wait_ms(int ms);
