// The run-time library's Windows version numbers, which the volume component uses to choose its
// back end: 10.0 (the endpoint path) when a sound server answers, 5.1 (the legacy mixer path)
// when none does but a mixer with a speakers line does, 10.0 otherwise. Detected once, on first
// use; a program may set them instead, before it creates any component.
#pragma once

int Win32MajorVersion();
int Win32MinorVersion();

// Fixes the numbers; detection does not run.
void SetWin32Version(int major, int minor);
// Forgets set or detected numbers: the next use detects again (for tests).
void ResetWin32Version();
