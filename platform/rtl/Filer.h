// Form-file streaming: TReader builds components from the text form
//   object Name: TClass
//     Prop = value
//     object Child: TChildClass ... end
//   end
// and TWriter writes it. Both go through the class registry; classes add
// unpublished data through DefineProperties.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rtl/ClassRegistry.h"
#include "rtl/Components.h"
#include "rtl/FormParser.h"
#include "rtl/PropertyValue.h"
#include "rtl/Streams.h"

namespace vcl {

class TReader;
class TWriter;

using TReaderProc = std::function<void(TReader& Reader)>;
using TWriterProc = std::function<void(TWriter& Writer)>;
using TStreamProc = std::function<void(TStream& Stream)>;

class TFiler : public TObject {
 public:
  std::string ClassName() const override { return "TFiler"; }

  // Called from DefineProperties. Reading: ReadData runs when the stream
  // holds a property of this name, and reads its one value. Writing:
  // WriteData runs when HasData, and writes one value.
  virtual void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                              const TWriterProc& WriteData, bool HasData) = 0;
  // Like DefineProperty, for bytes written as hex: ReadData gets a stream
  // positioned at the start of the bytes, WriteData writes them.
  virtual void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                                    const TStreamProc& WriteData, bool HasData) = 0;

  // The root component being read or written.
  TComponent* Root() const { return FRoot; }
  // Writing a descendant: the ancestor's counterpart of the object being
  // written, so that a class can write only what differs. Otherwise nullptr.
  TPersistent* Ancestor() const { return FAncestor; }

 protected:
  TComponent* FRoot = nullptr;       // root of the current operation
  TPersistent* FAncestor = nullptr;  // counterpart in the ancestor, if any
};

// Reads one object tree. Every component read carries csLoading and, while
// its own properties are read, csReading; setters run in stream order,
// component references are set once the whole tree is read (csFixups until
// then), and Loaded runs on all of them afterwards, owner first. Nested objects are
// owned by the root. On any error the components this reader created are
// freed, and the error is an EReadError (EClassNotFound for an unknown
// class) whose message ends in "on line <n>".
class TReader : public TFiler {
 public:
  explicit TReader(TStream& Stream);
  std::string ClassName() const override { return "TReader"; }

  // Reads the stream from its position. With Root, the root object's
  // properties go into Root (its class in the stream is not checked) and
  // Root is answered; otherwise an instance of the stream's class is
  // created, owned by Owner.
  TComponent* ReadRootComponent(TComponent* Root, TComponent* Owner = nullptr);

  void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                      const TWriterProc& WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                            const TStreamProc& WriteData, bool HasData) override;

  // For ReadData procedures: the value of the property being read; a value
  // of another type raises EReadError.
  TPropertyValue ReadValue();
  int64_t ReadInteger();
  double ReadFloat();
  std::string ReadString();
  bool ReadBoolean();
  std::string ReadIdent();

 private:
  TComponent* ReadObject(TComponent* Root, TComponent* Owner, bool IsRoot);
  void ReadProperty(TComponent* Instance);
  TPropertyValue ParseValue();
  std::string ParseString();
  void SetPublished(TComponent* Instance, const TPropInfo& Prop, const TPropertyValue& Value);
  [[noreturn]] void PropertyError(TComponent* Instance, const std::string& Reason, int32_t Line);
  void Cleanup(TComponent* GivenRoot);
  void ResolveFixups();
  TComponent* FindReference(const std::string& Path) const;
  [[noreturn]] void WrongType();

  TStream& FStream;                      // source, read from its position
  std::optional<TParser> FParser;        // over the stream's text during a read
  std::vector<TComponent*> FCreated;     // created by this read, in order
  std::vector<TComponent*> FLoaded;      // every component read, in order
  std::string FPropName;                 // defined property being looked for
  bool FPropHandled = false;             // a DefineProperty call took it
  std::optional<TPropertyValue> FValue;  // its value, until a Read* takes it
  TComponent* FInstance = nullptr;       // component whose property is being read
  // A component property whose target may come later in the stream.
  struct TFixup {
    TComponent* Instance;  // whose property it is
    const TPropInfo* Prop; // the property (lives in the registry)
    std::string PropName;  // as written, for messages
    std::string Path;      // Name or Root.Name
    int32_t Line;          // where the value stands
  };
  std::vector<TFixup> FFixups;           // pending until the whole tree is read
  int32_t FValueLine = 0;                // line where that value starts
};

// Writes one object tree as text with CR LF line ends. Each component is
// marked csWriting while it is written.
class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& Stream);
  std::string ClassName() const override { return "TWriter"; }

  void WriteComponent(TComponent* Root) { WriteDescendent(Root, nullptr); }
  // Writes Root as a descendant of Ancestor: a property is written only
  // when it differs from the ancestor's, and objects the ancestor has are
  // written as "inherited".
  void WriteDescendent(TComponent* Root, TComponent* AAncestor);

  void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                      const TWriterProc& WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                            const TStreamProc& WriteData, bool HasData) override;

  // For WriteData procedures: the one value of the property being written.
  void WriteValue(const TPropertyValue& Value);
  void WriteInteger(int64_t Value) { WriteValue(TPropertyValue::Int(Value)); }
  void WriteFloat(double Value) { WriteValue(TPropertyValue::Extended(Value)); }
  void WriteString(const std::string& Value) { WriteValue(TPropertyValue::String(Value)); }
  void WriteBoolean(bool Value) { WriteValue(TPropertyValue::Boolean(Value)); }
  void WriteIdent(const std::string& Value) { WriteValue(TPropertyValue::Ident(Value)); }

  // The text of a value as it appears after "Name = " at the given depth.
  static std::string FormatValue(const TPropertyValue& Value, int32_t Level);

 private:
  void WriteObject(TComponent* Instance, TComponent* AncestorInstance, int32_t Level);
  void WriteLine(int32_t Level, const std::string& Text);
  std::string ReferencePath(TComponent* Target) const;

  TStream& FStream;                      // destination
  std::string FText;                     // the text so far, written at the end
  TComponent* FRootAncestor = nullptr;   // ancestor of the root, if any
  int32_t FLevel = 0;                    // depth of the object being written
  bool FExpectValue = false;             // inside a WriteData procedure
  std::optional<TPropertyValue> FValue;  // what it wrote
};

}  // namespace vcl
