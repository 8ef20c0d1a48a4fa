// The local host's name, as the host-identity properties show it.
#pragma once

#include <qx/framework/core/System.h>

// The name gethostname reports (or the installed THostInfoDouble's); empty if it cannot be read.
String GetLocalHostName();
