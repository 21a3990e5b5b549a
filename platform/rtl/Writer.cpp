#include <charconv>
#include <cmath>

#include "rtl/Filer.h"
#include "rtl/StrUtils.h"

namespace vcl {

namespace {

// Bytes of a string per text line before a "+" continuation.
constexpr size_t kStringChunk = 64;
// Bytes of binary data per text line (two hex digits each).
constexpr size_t kBinaryChunk = 32;

std::string Indent(int32_t Level) { return std::string(static_cast<size_t>(Level) * 2, ' '); }

// Printable ASCII goes between quotes; every other byte as #nnn, so the
// text stays 7-bit and reads back byte for byte.
std::string QuoteChunk(const std::string& S) {
  if (S.empty()) return "''";
  std::string Result;
  bool InQuotes = false;
  for (char C : S) {
    unsigned char U = static_cast<unsigned char>(C);
    if (U >= ' ' && U < 127) {
      if (!InQuotes) Result += '\'';
      InQuotes = true;
      Result += C;
      if (C == '\'') Result += '\'';
    } else {
      if (InQuotes) Result += '\'';
      InQuotes = false;
      Result += '#' + std::to_string(U);
    }
  }
  if (InQuotes) Result += '\'';
  return Result;
}

std::string FormatString(const std::string& S, int32_t Level) {
  if (S.size() <= kStringChunk) return QuoteChunk(S);
  std::string Result;
  for (size_t At = 0; At < S.size(); At += kStringChunk) {
    if (At > 0) Result += " +\r\n" + Indent(Level + 1);
    Result += QuoteChunk(S.substr(At, kStringChunk));
  }
  return Result;
}

std::string FormatFloat(double V) {
  if (!std::isfinite(V)) throw EWriteError("Invalid floating point value");
  char Buffer[64];
  auto [End, Ec] = std::to_chars(Buffer, Buffer + sizeof Buffer, V);
  std::string Result(Buffer, End);
  // A float must not read back as an integer.
  if (Result.find_first_of(".e") == std::string::npos) Result += ".0";
  return Result;
}

}  // namespace

std::string TWriter::FormatValue(const TPropertyValue& Value, int32_t Level) {
  switch (Value.Type) {
    case vaNull: throw EWriteError("Cannot write an empty value");
    case vaInt64: return std::to_string(Value.Integer);
    case vaExtended: return FormatFloat(Value.Float);
    case vaString: return FormatString(Value.Text, Level);
    case vaIdent:
      if (Value.Text.empty()) throw EWriteError("Cannot write an empty identifier");
      return Value.Text;
    case vaNil: return "nil";
    case vaFalse: return "False";
    case vaTrue: return "True";
    case vaSet: {
      std::string Result = "[";
      for (size_t i = 0; i < Value.Items.size(); ++i) Result += (i ? ", " : "") + Value.Items[i];
      return Result + "]";
    }
    case vaList: {
      if (Value.Items.empty()) return "()";
      std::string Result = "(";
      for (const auto& Item : Value.Items) Result += "\r\n" + Indent(Level + 1) + FormatString(Item, Level + 1);
      return Result + ")";
    }
    case vaBinary: {
      static const char* Hex = "0123456789ABCDEF";
      std::string Result = "{";
      for (size_t i = 0; i < Value.Text.size(); ++i) {
        if (i % kBinaryChunk == 0) Result += "\r\n" + Indent(Level + 1);
        unsigned char U = static_cast<unsigned char>(Value.Text[i]);
        Result += Hex[U >> 4];
        Result += Hex[U & 15];
      }
      return Result + "}";
    }
  }
  throw EWriteError("Cannot write an empty value");
}

TWriter::TWriter(TStream& Stream) : FStream(Stream) {}

std::string TWriter::ReferencePath(TComponent* Target) const {
  if (Target->Name().empty()) throw EWriteError("Cannot write a reference to an unnamed " + Target->ClassName());
  if (Target == FRoot || Target->Owner() == FRoot || Target->Owner() == nullptr) return Target->Name();
  if (Target->Owner()->Name().empty())
    throw EWriteError("Cannot write a reference to " + Target->Name() + " of an unnamed owner");
  return Target->Owner()->Name() + "." + Target->Name();
}

void TWriter::WriteLine(int32_t Level, const std::string& Text) {
  FText += Indent(Level);
  FText += Text;
  FText += "\r\n";
}

void TWriter::WriteDescendent(TComponent* Root, TComponent* AAncestor) {
  FRoot = Root;
  FRootAncestor = AAncestor;
  FText.clear();
  try {
    WriteObject(Root, AAncestor, 0);
  } catch (...) {
    FText.clear();
    FAncestor = nullptr;
    throw;
  }
  FAncestor = nullptr;
  std::string Text;
  Text.swap(FText);
  FStream.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

void TWriter::WriteObject(TComponent* Instance, TComponent* AncestorInstance, int32_t Level) {
  const TComponentClass& Class = FindClass(Instance->ClassName());
  const TComponentClass* AncestorClass = AncestorInstance ? GetClass(AncestorInstance->ClassName()) : nullptr;

  // csWriting is ours to set and clear, whatever happens in between.
  struct TWritingFlag {
    TComponent* C;
    bool Set;
    ~TWritingFlag() {
      if (Set) C->FComponentState.Exclude(csWriting);
    }
  } Flag{Instance, !Instance->FComponentState.Contains(csWriting)};
  Instance->FComponentState.Include(csWriting);

  std::string Head = AncestorInstance != nullptr ? "inherited " : "object ";
  if (!Instance->Name().empty()) Head += Instance->Name() + ": ";
  WriteLine(Level, Head + Instance->ClassName());

  for (const TPropInfo& Prop : Class.Properties()) {
    TPropertyValue Value = Prop.Get(Instance);
    const TPropInfo* AncestorProp = AncestorClass ? AncestorClass->FindProperty(Prop.Name) : nullptr;
    if (AncestorProp != nullptr) {
      if (Value == AncestorProp->Get(AncestorInstance)) continue;
    } else if (Prop.Default && Value == *Prop.Default) {
      continue;
    }
    if (Prop.Kind == pkComponent && Value.Reference != nullptr) Value.Text = ReferencePath(Value.Reference);
    std::string Name = Prop.Kind == pkStrings ? Prop.Name + ".Strings" : Prop.Name;
    WriteLine(Level + 1, Name + " = " + FormatValue(Value, Level + 1));
  }

  FLevel = Level;
  FAncestor = AncestorInstance;
  Instance->DefineProperties(this);

  std::vector<TComponent*> Children;
  Instance->GetChildren([&](TComponent* Child) { Children.push_back(Child); }, FRoot);
  for (TComponent* Child : Children) {
    TComponent* ChildAncestor =
        FRootAncestor != nullptr && !Child->Name().empty() ? FRootAncestor->FindComponent(Child->Name()) : nullptr;
    WriteObject(Child, ChildAncestor, Level + 1);
  }
  WriteLine(Level, "end");
}

void TWriter::DefineProperty(const std::string& Name, const TReaderProc&, const TWriterProc& WriteData,
                             bool HasData) {
  if (!HasData || !WriteData) return;
  FExpectValue = true;
  FValue.reset();
  try {
    WriteData(*this);
  } catch (...) {
    FExpectValue = false;
    throw;
  }
  FExpectValue = false;
  if (!FValue) throw EWriteError("No value written for property " + Name);
  WriteLine(FLevel + 1, Name + " = " + FormatValue(*FValue, FLevel + 1));
  FValue.reset();
}

void TWriter::DefineBinaryProperty(const std::string& Name, const TStreamProc&, const TStreamProc& WriteData,
                                   bool HasData) {
  if (!HasData || !WriteData) return;
  TMemoryStream Bytes;
  WriteData(Bytes);
  TPropertyValue Value = TPropertyValue::Binary(
      std::string(reinterpret_cast<const char*>(Bytes.Memory()), static_cast<size_t>(Bytes.Size())));
  WriteLine(FLevel + 1, Name + " = " + FormatValue(Value, FLevel + 1));
}

void TWriter::WriteValue(const TPropertyValue& Value) {
  if (!FExpectValue) throw EWriteError("No property is being written");
  if (FValue) throw EWriteError("A property takes one value");
  FValue = Value;
}

}  // namespace vcl
