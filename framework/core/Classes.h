// The object model, for the components: objects, string lists, components, class information
// and the typed builder of a class's property table.
#pragma once

#include "framework/core/ClassInfo.h"
#include "framework/core/Component.h"
#include "framework/core/Object.h"
#include "framework/core/PropsBuilder.h"
#include "framework/core/StringList.h"
