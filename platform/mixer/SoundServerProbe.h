// Whether a sound server answers a client connection, asked without ever starting one.
#pragma once

#include <chrono>

// True when a PulseAudio-protocol server (PulseAudio, or PipeWire's pulse server) accepts a
// connection within timeout. Never autospawns a server.
bool SoundServerAnswers(std::chrono::milliseconds timeout);
