// Whole-form helpers over TReader/TWriter: streams, files and text.
#pragma once

#include <string>

#include "rtl/Components.h"
#include "rtl/Filer.h"
#include "rtl/Streams.h"

namespace vcl {

// Writes Root (and the objects it owns) at the stream's position. With
// Ancestor, only what differs from it is written.
void WriteComponentToStream(TStream& Stream, TComponent* Root, TComponent* Ancestor = nullptr);
// Creates the component the stream describes, owned by Owner (may be null;
// then the caller owns the result).
TComponent* ReadComponentFromStream(TStream& Stream, TComponent* Owner = nullptr);
// Reads the stream's root object into an existing Root.
void ReadComponentInto(TStream& Stream, TComponent* Root);

void WriteComponentResFile(const std::string& FileName, TComponent* Root);
TComponent* ReadComponentResFile(const std::string& FileName, TComponent* Owner = nullptr);

std::string ComponentToText(TComponent* Root, TComponent* Ancestor = nullptr);
TComponent* ComponentFromText(const std::string& Text, TComponent* Owner = nullptr);
void ReadComponentFromText(const std::string& Text, TComponent* Root);

}  // namespace vcl
