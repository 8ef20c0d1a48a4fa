// The interface objects handed out by CoCreateInstance: the device enumerator, the default
// device and its endpoint volume. They share the backend, which outlives them all.
#pragma once

#include <memory>

#include <qx/platform/audio/EndpointBackend.h>

// A new enumerator over backend, with one reference owned by the caller.
IMMDeviceEnumerator* NewEndpointEnumerator(std::shared_ptr<TEndpointBackend> backend);
