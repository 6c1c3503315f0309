// What the program holds of the drawing system: Windows keeps a count of
// every GDI object and device context a process has not given back, and
// refuses more once it reaches its limit.
#pragma once

namespace port {

// Brushes created and not deleted.
int GdiObjectsAlive();
// Device contexts got and not released.
int DeviceContextsHeld();
// Forgets both, as a new process would start.
void ForgetGdiObjects();

}  // namespace port
