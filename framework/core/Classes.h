// The object model, for the components: objects, string lists, components, class information
// and the typed builder of a class's property table.
#pragma once

#include <qx/framework/core/ClassInfo.h>
#include <qx/framework/core/Component.h>
#include <qx/framework/core/Object.h>
#include <qx/framework/core/PropsBuilder.h>
#include <qx/framework/core/StringList.h>
