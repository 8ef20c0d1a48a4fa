// Form files: text, one `object Name: TClass ... end` block per component, nested by ownership
// (controls by parent), properties in declaration order, values equal to the stream default left
// out. Reading a written file gives the same objects and values.
#pragma once

#include <functional>

#include <qx/framework/core/Classes.h>

// Runs once every property of a file is applied, references resolved and events bound, before
// any component is told it is loaded: the place for a program to set what it decides over the
// file (an address from its command line, a socket it activates itself later), on components
// that are complete but not yet started. An exception from it refuses the file like a bad value.
using TFormReadHook = std::function<void(TComponent* root)>;

// Reads `text` into the existing `root` (its class must be the file's top class or inherit from
// it); children are created by class name with `root` as their owner. With `designing`, every
// component is in the designing state before any property is applied. On error throws an
// Exception "file:line:col: message" and frees every component it created.
void ReadComponentFromText(TComponent* root, const String& text, const String& fileName = "<form>",
                           bool designing = false, const TFormReadHook& afterRead = {});
// Creates the root by the file's top class, with `owner`, then reads as above.
TComponent* CreateComponentFromText(const String& text, TComponent* owner,
                                    const String& fileName = "<form>", bool designing = false);
void ReadComponentFromFile(TComponent* root, const String& path, bool designing = false);
TComponent* CreateComponentFromFile(const String& path, TComponent* owner, bool designing = false);

String WriteComponentToText(TComponent* root);
void WriteComponentToFile(TComponent* root, const String& path);

// Text forms of colour values: a colour name (clRed, ...) or a number.
String ColorToString(TColor c);
bool StringToColor(std::string_view s, TColor& c);
