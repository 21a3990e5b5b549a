#include "rtl/FormFiles.h"

namespace vcl {

void WriteComponentToStream(TStream& Stream, TComponent* Root, TComponent* Ancestor) {
  TWriter Writer(Stream);
  Writer.WriteDescendent(Root, Ancestor);
}

TComponent* ReadComponentFromStream(TStream& Stream, TComponent* Owner) {
  TReader Reader(Stream);
  return Reader.ReadRootComponent(nullptr, Owner);
}

void ReadComponentInto(TStream& Stream, TComponent* Root) {
  TReader Reader(Stream);
  Reader.ReadRootComponent(Root);
}

void WriteComponentResFile(const std::string& FileName, TComponent* Root) {
  // Written in memory first, so that a failing writer leaves no torn file.
  TMemoryStream Text;
  WriteComponentToStream(Text, Root);
  Text.SaveToFile(FileName);
}

TComponent* ReadComponentResFile(const std::string& FileName, TComponent* Owner) {
  TFileStream File(FileName, fmOpenRead | fmShareDenyWrite);
  return ReadComponentFromStream(File, Owner);
}

std::string ComponentToText(TComponent* Root, TComponent* Ancestor) {
  TStringStream Text;
  WriteComponentToStream(Text, Root, Ancestor);
  return Text.DataString();
}

TComponent* ComponentFromText(const std::string& Text, TComponent* Owner) {
  TStringStream Stream(Text);
  return ReadComponentFromStream(Stream, Owner);
}

void ReadComponentFromText(const std::string& Text, TComponent* Root) {
  TStringStream Stream(Text);
  ReadComponentInto(Stream, Root);
}

}  // namespace vcl
