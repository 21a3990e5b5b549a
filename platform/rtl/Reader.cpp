#include <algorithm>

#include "rtl/Filer.h"
#include "rtl/StrUtils.h"

namespace vcl {

namespace {

bool IsKeyword(const TToken& T, const char* Word) { return T.Kind == tkIdent && AnsiSameText(T.Text, Word); }

bool IsObjectStart(const TToken& T) {
  return IsKeyword(T, "object") || IsKeyword(T, "inherited") || IsKeyword(T, "inline");
}

bool EndsWithStrings(const std::string& Name) {
  const std::string Suffix = ".Strings";
  return Name.size() > Suffix.size() &&
         AnsiSameText(Name.substr(Name.size() - Suffix.size()), Suffix);
}

bool InNames(const std::vector<std::string>& Names, const std::string& Ident) {
  return std::any_of(Names.begin(), Names.end(), [&](const std::string& N) { return AnsiSameText(N, Ident); });
}

const char* kInvalidValue = "Invalid property value";

}  // namespace

TReader::TReader(TStream& Stream) : FStream(Stream) {}

TComponent* TReader::ReadRootComponent(TComponent* Root, TComponent* Owner) {
  int64_t Available = FStream.Size() - FStream.Position();
  std::string Text(static_cast<size_t>(std::max<int64_t>(Available, 0)), '\0');
  FStream.ReadBuffer(Text.data(), static_cast<int64_t>(Text.size()));
  FParser.emplace(std::move(Text));
  FCreated.clear();
  FLoaded.clear();
  FFixups.clear();
  FRoot = Root;
  TComponent* Result = nullptr;
  try {
    FParser->Next();
    Result = ReadObject(Root, Owner, true);
    if (FParser->Token().Kind != tkEOF) FParser->Error("Expected end of file but found " + FParser->Describe());
    // Objects owned elsewhere by their factory still belong to the root.
    for (TComponent* C : FCreated)
      if (C != Result && C->Owner() == nullptr) Result->InsertComponent(C);
    ResolveFixups();
    for (TComponent* C : FLoaded) C->Loaded();
  } catch (...) {
    Cleanup(Root);
    FParser.reset();
    throw;
  }
  for (TComponent* C : FLoaded) C->FComponentState -= TComponentState{csLoading, csReading};
  FInstance = nullptr;
  FCreated.clear();
  FLoaded.clear();
  FParser.reset();
  return Result;
}

void TReader::Cleanup(TComponent* GivenRoot) {
  FFixups.clear();
  for (TComponent* C : FLoaded) C->FComponentState.Exclude(csFixups);
  auto Created = [&](TComponent* C) { return std::find(FCreated.begin(), FCreated.end(), C) != FCreated.end(); };
  // Components that existed before the read survive it, without the flags.
  for (TComponent* C : FLoaded)
    if (!Created(C)) C->FComponentState -= TComponentState{csLoading, csReading};
  // Free what this read created, last first; a created root takes the
  // components it owns along.
  TComponent* CreatedRoot = GivenRoot == nullptr && !FCreated.empty() ? FCreated.front() : nullptr;
  for (size_t i = FCreated.size(); i-- > 0;) {
    TComponent* C = FCreated[i];
    if (C == CreatedRoot || (CreatedRoot != nullptr && C->Owner() == CreatedRoot)) continue;
    delete C;
  }
  delete CreatedRoot;
  FCreated.clear();
  FLoaded.clear();
  FInstance = nullptr;
}

TComponent* TReader::ReadObject(TComponent* GivenRoot, TComponent* Owner, bool IsRoot) {
  TParser& P = *FParser;
  const TToken& Head = P.Token();
  if (!IsObjectStart(Head)) P.Error("Expected 'object' but found " + P.Describe());
  bool Inherited = IsKeyword(Head, "inherited");
  int32_t HeadLine = Head.Line;
  P.Next();
  if (P.Token().Kind != tkIdent) P.Error("Expected a class name but found " + P.Describe());
  std::string Name, ClassName = P.Token().Text;
  P.Next();
  if (P.Token().Kind == tkSymbol && P.Token().Symbol == ':') {
    Name = ClassName;
    P.Next();
    if (P.Token().Kind != tkIdent) P.Error("Expected a class name but found " + P.Describe());
    ClassName = P.Token().Text;
    P.Next();
  }

  TComponent* Instance = nullptr;
  if (IsRoot && GivenRoot != nullptr) {
    Instance = GivenRoot;
  } else if (!IsRoot && Inherited) {
    Instance = FRoot->FindComponent(Name);
    if (Instance == nullptr) P.Error("Ancestor for '" + Name + "' not found", HeadLine);
  } else {
    const TComponentClass* Class = GetClass(ClassName);
    if (Class == nullptr)
      throw EClassNotFound("Class " + ClassName + " not found on line " + std::to_string(HeadLine));
    Instance = Class->Create(IsRoot ? Owner : FRoot);
    FCreated.push_back(Instance);
  }
  if (IsRoot) FRoot = Instance;
  FLoaded.push_back(Instance);
  Instance->FComponentState += TComponentState{csLoading, csReading};
  if (!Name.empty() && Name != Instance->Name()) {
    try {
      Instance->SetName(Name);
    } catch (const Exception& E) {
      P.Error(E.Message(), HeadLine);
    }
  }

  while (true) {
    const TToken& T = P.Token();
    if (T.Kind == tkEOF) P.Error("Unexpected end of file");
    if (IsKeyword(T, "end")) break;
    if (IsObjectStart(T)) {
      ReadObject(nullptr, nullptr, false);
    } else if (T.Kind == tkIdent) {
      ReadProperty(Instance);
    } else {
      P.Error("Expected a property, 'object' or 'end' but found " + P.Describe());
    }
  }
  P.Next();
  Instance->FComponentState.Exclude(csReading);
  return Instance;
}

void TReader::PropertyError(TComponent* Instance, const std::string& Reason, int32_t Line) {
  std::string Who = Instance->Name().empty() ? Instance->ClassName() : Instance->Name();
  FParser->Error("Error reading " + Who + "." + FPropName + ": " + Reason, Line);
}

void TReader::ReadProperty(TComponent* Instance) {
  TParser& P = *FParser;
  FPropName = P.Token().Text;
  int32_t NameLine = P.Token().Line;
  P.Next();
  if (P.Token().Kind != tkSymbol || P.Token().Symbol != '=')
    P.Error("Expected '=' after " + FPropName + " but found " + P.Describe());
  P.Next();
  FValueLine = P.Token().Line;
  FInstance = Instance;
  TPropertyValue Value = ParseValue();

  const TComponentClass* Class = GetClass(Instance->ClassName());
  if (Class == nullptr) PropertyError(Instance, "Class " + Instance->ClassName() + " is not registered", NameLine);
  const TPropInfo* Prop = Class->FindProperty(FPropName);
  if (Prop == nullptr && EndsWithStrings(FPropName)) {
    Prop = Class->FindProperty(FPropName.substr(0, FPropName.size() - 8));
    if (Prop != nullptr && Prop->Kind != pkStrings) Prop = nullptr;
  }
  if (Prop != nullptr) {
    SetPublished(Instance, *Prop, Value);
    return;
  }

  FPropHandled = false;
  FValue = std::move(Value);
  try {
    Instance->DefineProperties(this);
  } catch (const EReadError&) {
    FValue.reset();
    throw;
  } catch (const Exception& E) {
    FValue.reset();
    PropertyError(Instance, E.Message(), FValueLine);
  }
  bool Unread = FValue.has_value();
  FValue.reset();
  if (!FPropHandled) PropertyError(Instance, "Property " + FPropName + " does not exist", NameLine);
  if (Unread) PropertyError(Instance, kInvalidValue, FValueLine);
}

void TReader::SetPublished(TComponent* Instance, const TPropInfo& Prop, const TPropertyValue& Value) {
  int32_t Line = FValueLine;
  TPropertyValue V = Value;
  bool Ok = false;
  switch (Prop.Kind) {
    case pkInteger: Ok = V.Type == vaInt64; break;
    case pkFloat:
      if (V.Type == vaInt64) V = TPropertyValue::Extended(static_cast<double>(V.Integer));
      Ok = V.Type == vaExtended;
      break;
    case pkString: Ok = V.Type == vaString; break;
    case pkBoolean: Ok = V.IsBoolean(); break;
    case pkEnumeration:
      if (V.IsBoolean()) V = TPropertyValue::Ident(V.Type == vaTrue ? "True" : "False");
      Ok = V.Type == vaIdent && InNames(Prop.EnumNames, V.Text);
      break;
    case pkSet:
      Ok = V.Type == vaSet && std::all_of(V.Items.begin(), V.Items.end(),
                                          [&](const std::string& E) { return InNames(Prop.EnumNames, E); });
      break;
    case pkStrings: Ok = V.Type == vaList; break;
    case pkComponent:
      Ok = V.Type == vaNil || V.Type == vaIdent;
      if (Ok && V.Type == vaIdent) {
        // Resolved when the whole tree is there: the target may come later.
        FFixups.push_back({Instance, &Prop, FPropName, V.Text, Line});
        Instance->FComponentState.Include(csFixups);
        return;
      }
      break;
  }
  if (!Ok) PropertyError(Instance, kInvalidValue, Line);
  try {
    Prop.Set(Instance, V);
  } catch (const EReadError&) {
    throw;
  } catch (const Exception& E) {
    PropertyError(Instance, E.Message(), Line);
  }
}

TComponent* TReader::FindReference(const std::string& Path) const {
  size_t Dot = Path.find('.');
  if (Dot == std::string::npos)
    return AnsiSameText(Path, FRoot->Name()) ? FRoot : FRoot->FindComponent(Path);
  // Root.Name, or Other.Name for a root that shares our root's owner.
  std::string First = Path.substr(0, Dot), Rest = Path.substr(Dot + 1);
  TComponent* Base = nullptr;
  if (AnsiSameText(First, FRoot->Name()))
    Base = FRoot;
  else if (FRoot->Owner() != nullptr)
    Base = FRoot->Owner()->FindComponent(First);
  return Base != nullptr && Rest.find('.') == std::string::npos ? Base->FindComponent(Rest) : nullptr;
}

void TReader::ResolveFixups() {
  std::vector<TFixup> Fixups;
  Fixups.swap(FFixups);
  for (const TFixup& F : Fixups) {
    FPropName = F.PropName;
    TComponent* Target = FindReference(F.Path);
    if (Target == nullptr) PropertyError(F.Instance, "Component " + F.Path + " not found", F.Line);
    TPropertyValue V = TPropertyValue::ComponentRef(Target);
    try {
      F.Prop->Set(F.Instance, V);
    } catch (const EReadError&) {
      throw;
    } catch (const Exception& E) {
      PropertyError(F.Instance, E.Message(), F.Line);
    }
  }
  for (TComponent* C : FLoaded) C->FComponentState.Exclude(csFixups);
}

std::string TReader::ParseString() {
  TParser& P = *FParser;
  std::string Result = P.Token().Text;
  P.Next();
  while (P.Token().Kind == tkSymbol && P.Token().Symbol == '+') {
    P.Next();
    if (P.Token().Kind != tkString) P.Error("Expected a string after '+' but found " + P.Describe());
    Result += P.Token().Text;
    P.Next();
  }
  return Result;
}

TPropertyValue TReader::ParseValue() {
  TParser& P = *FParser;
  const TToken& T = P.Token();
  TPropertyValue Result;
  switch (T.Kind) {
    case tkInteger: Result = TPropertyValue::Int(T.Integer); P.Next(); return Result;
    case tkFloat: Result = TPropertyValue::Extended(T.Float); P.Next(); return Result;
    case tkString: return TPropertyValue::String(ParseString());
    case tkBinary: Result = TPropertyValue::Binary(T.Text); P.Next(); return Result;
    case tkIdent:
      if (AnsiSameText(T.Text, "nil"))
        Result.Type = vaNil;
      else if (AnsiSameText(T.Text, "True"))
        Result = TPropertyValue::Boolean(true);
      else if (AnsiSameText(T.Text, "False"))
        Result = TPropertyValue::Boolean(false);
      else
        Result = TPropertyValue::Ident(T.Text);
      P.Next();
      return Result;
    case tkEOF: P.Error("Unexpected end of file");
    case tkSymbol: break;
  }
  if (T.Symbol == '[') {
    Result = TPropertyValue::SetOf({});
    P.Next();
    if (P.Token().Kind == tkSymbol && P.Token().Symbol == ']') {
      P.Next();
      return Result;
    }
    while (true) {
      if (P.Token().Kind != tkIdent) P.Error("Expected a set element but found " + P.Describe());
      Result.Items.push_back(P.Token().Text);
      P.Next();
      if (P.Token().Kind == tkSymbol && P.Token().Symbol == ']') break;
      if (P.Token().Kind != tkSymbol || P.Token().Symbol != ',')
        P.Error("Expected ',' or ']' but found " + P.Describe());
      P.Next();
    }
    P.Next();
    return Result;
  }
  if (T.Symbol == '(') {
    Result = TPropertyValue::List({});
    P.Next();
    while (!(P.Token().Kind == tkSymbol && P.Token().Symbol == ')')) {
      if (P.Token().Kind != tkString) P.Error("Expected a string or ')' but found " + P.Describe());
      Result.Items.push_back(ParseString());
    }
    P.Next();
    return Result;
  }
  P.Error("Expected a property value but found " + P.Describe());
}

void TReader::DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc&,
                             bool) {
  if (FPropHandled || !ReadData || !AnsiSameText(Name, FPropName)) return;
  FPropHandled = true;
  ReadData(*this);
}

void TReader::DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData, const TStreamProc&,
                                   bool) {
  if (FPropHandled || !ReadData || !AnsiSameText(Name, FPropName)) return;
  FPropHandled = true;
  if (!FValue || FValue->Type != vaBinary) return;  // left unread: reported as an invalid value
  TMemoryStream Bytes;
  Bytes.WriteBuffer(FValue->Text.data(), static_cast<int64_t>(FValue->Text.size()));
  Bytes.SetPosition(0);
  FValue.reset();
  ReadData(Bytes);
}

TPropertyValue TReader::ReadValue() {
  if (FInstance == nullptr) throw EReadError("No property value to read");
  if (!FValue) WrongType();  // a second read for one value
  TPropertyValue V = std::move(*FValue);
  FValue.reset();
  return V;
}

void TReader::WrongType() { PropertyError(FInstance, kInvalidValue, FValueLine); }

int64_t TReader::ReadInteger() {
  TPropertyValue V = ReadValue();
  if (V.Type != vaInt64) WrongType();
  return V.Integer;
}

double TReader::ReadFloat() {
  TPropertyValue V = ReadValue();
  if (V.Type == vaInt64) return static_cast<double>(V.Integer);
  if (V.Type != vaExtended) WrongType();
  return V.Float;
}

std::string TReader::ReadString() {
  TPropertyValue V = ReadValue();
  if (V.Type != vaString) WrongType();
  return V.Text;
}

bool TReader::ReadBoolean() {
  TPropertyValue V = ReadValue();
  if (!V.IsBoolean()) WrongType();
  return V.Type == vaTrue;
}

std::string TReader::ReadIdent() {
  TPropertyValue V = ReadValue();
  if (V.IsBoolean()) return V.Type == vaTrue ? "True" : "False";
  if (V.Type != vaIdent) WrongType();
  return V.Text;
}

}  // namespace vcl
