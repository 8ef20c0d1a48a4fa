// The interface objects handed out by CoCreateInstance: the device enumerator, the default
// device and its endpoint volume. They share the backend, which outlives them all.
#pragma once

#include <memory>

#include <qx/platform/audio/EndpointBackend.h>

#include <qx/framework/core/System.h>

// Opens the backend behind a device identifier (GetDevice); fails only when nothing can stand
// behind any device of that name.
using TEndpointOpener = HRESULT (*)(const String& id, std::shared_ptr<TEndpointBackend>& backend);

// A new enumerator over backend (the default output), with one reference owned by the caller.
IMMDeviceEnumerator* NewEndpointEnumerator(std::shared_ptr<TEndpointBackend> backend,
                                           TEndpointOpener opener);
