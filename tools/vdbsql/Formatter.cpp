#include "Formatter.h"

#include <algorithm>

#include "ValueText.h"

namespace vdbsql {

void TResultWriter::BeginResult(const std::vector<TResultColumn>& Columns) {
  FColumns = Columns;
  FRowCount = 0;
}

namespace {

bool IsNull(const vcl::Variant& V) { return vcl::VarIsNull(V) || vcl::VarIsEmpty(V); }

// Aligned columns separated by " | ", a dashed line under the names and a
// row count at the end. The first rows are held back to size the columns;
// later rows are printed at once with those widths (a longer value then
// just pushes its row out of line).
class TTableWriter : public TResultWriter {
 public:
  using TResultWriter::TResultWriter;

  void BeginResult(const std::vector<TResultColumn>& Columns) override {
    TResultWriter::BeginResult(Columns);
    FWidths.assign(Columns.size(), 0);
    for (size_t I = 0; I < Columns.size(); ++I) FWidths[I] = FNoHeader ? 0 : DisplayWidth(Columns[I].Name);
    FHeld.clear();
    FSized = false;
  }

  void Row(const std::vector<vcl::Variant>& Values) override {
    ++FRowCount;
    if (FSized) {
      for (size_t I = 0; I < FColumns.size(); ++I) CellText(Values[I], I, FCells[I]);
      WriteCells(FCells);
      return;
    }
    std::vector<std::string>& Cells = FHeld.emplace_back(FColumns.size());
    for (size_t I = 0; I < FColumns.size(); ++I) {
      CellText(Values[I], I, Cells[I]);
      FWidths[I] = std::max(FWidths[I], DisplayWidth(Cells[I]));
    }
    if (FHeld.size() >= kSampleRows) Flush();
  }

  void EndResult() override {
    Flush();
    Write(FRowCount == 1 ? "(1 row)\n" : "(" + std::to_string(FRowCount) + " rows)\n");
  }

  void RowsAffected(int64_t Count) override {
    Write(Count == 1 ? "1 row affected\n" : std::to_string(Count) + " rows affected\n");
  }

 private:
  static constexpr size_t kSampleRows = 1000;  // rows held back to size the columns
  static constexpr size_t kBinaryShown = 16;   // bytes of a binary value shown in full

  void CellText(const vcl::Variant& V, size_t Column, std::string& Out) {
    if (IsNull(V)) {
      Out = FNullText;
      return;
    }
    const vdb::TVantorFieldTypes Type = FColumns[Column].Type;
    if (IsBinaryType(Type)) {
      std::string Bytes = BytesOf(V);
      if (Bytes.size() > kBinaryShown)
        Out = HexText(std::string_view(Bytes).substr(0, kBinaryShown)) + "... (" + std::to_string(Bytes.size()) +
              " bytes)";
      else
        Out = HexText(Bytes);
      return;
    }
    Out.clear();
    AppendPlainText(Out, V, Type, FColumns[Column].Decimals);
    // Line breaks and tabs would tear the table apart.
    static constexpr TCharSet kBreaks("\n\r\t");
    if (!kBreaks.AnyIn(Out)) return;
    FCell.swap(Out);
    Out.clear();
    for (char C : FCell) {
      if (C == '\n') Out += "\\n";
      else if (C == '\r') Out += "\\r";
      else if (C == '\t') Out += "\\t";
      else Out += C;
    }
  }

  void Flush() {
    if (FSized) return;
    FSized = true;
    FCells.assign(FColumns.size(), std::string());
    if (!FNoHeader) {
      std::vector<std::string> Names;
      for (const auto& C : FColumns) Names.push_back(C.Name);
      WriteCells(Names, true);
      FLine.clear();
      for (size_t I = 0; I < FColumns.size(); ++I) {
        if (I > 0) FLine += "-+-";
        FLine.append(FWidths[I], '-');
      }
      FLine += '\n';
      Write(FLine);
    }
    for (const auto& Cells : FHeld) WriteCells(Cells);
    FHeld.clear();
    FHeld.shrink_to_fit();
  }

  void WriteCells(const std::vector<std::string>& Cells, bool Header = false) {
    FLine.clear();
    for (size_t I = 0; I < Cells.size(); ++I) {
      if (I > 0) FLine += " | ";
      const size_t Width = DisplayWidth(Cells[I]);
      const size_t Pad = FWidths[I] > Width ? FWidths[I] - Width : 0;
      const bool Right = !Header && IsNumericType(FColumns[I].Type);
      const bool Last = I + 1 == Cells.size();
      if (Right) FLine.append(Pad, ' ');
      FLine += Cells[I];
      if (!Right && !Last) FLine.append(Pad, ' ');
    }
    FLine += '\n';
    Write(FLine);
  }

  std::vector<size_t> FWidths;                  // display width of each column
  std::vector<std::vector<std::string>> FHeld;  // rows held back until the widths are known
  std::vector<std::string> FCells;              // scratch cells once streaming
  bool FSized = false;                          // the widths are fixed and the header printed
};

// RFC 4180: fields separated by commas, records ended by CRLF, a field
// quoted when it holds a comma, a quote, CR or LF (quotes doubled). An
// empty text is quoted so that it reads differently from NULL.
class TCsvWriter : public TResultWriter {
 public:
  using TResultWriter::TResultWriter;

  void BeginResult(const std::vector<TResultColumn>& Columns) override {
    TResultWriter::BeginResult(Columns);
    if (FNoHeader) return;
    FLine.clear();
    for (size_t I = 0; I < Columns.size(); ++I) {
      if (I > 0) FLine += ',';
      AppendField(Columns[I].Name, true);
    }
    FLine += "\r\n";
    Write(FLine);
  }

  void Row(const std::vector<vcl::Variant>& Values) override {
    ++FRowCount;
    FLine.clear();
    for (size_t I = 0; I < Values.size(); ++I) {
      if (I > 0) FLine += ',';
      if (IsNull(Values[I])) {
        if (!FNullText.empty()) AppendField(FNullText, false);
      } else {
        FCell.clear();
        AppendPlainText(FCell, Values[I], FColumns[I].Type, FColumns[I].Decimals);
        AppendField(FCell, true);
      }
    }
    FLine += "\r\n";
    Write(FLine);
  }

 private:
  void AppendField(const std::string& Text, bool QuoteEmpty) {
    static constexpr TCharSet kQuoted(",\"\r\n");
    const bool Quote = (Text.empty() && QuoteEmpty) || kQuoted.AnyIn(Text);
    if (!Quote) {
      FLine += Text;
      return;
    }
    FLine += '"';
    for (char C : Text) {
      if (C == '"') FLine += '"';
      FLine += C;
    }
    FLine += '"';
  }
};

// Tab-separated values, one line per row; a backslash, tab, LF or CR in a
// value is written as \\, \t, \n or \r.
class TTsvWriter : public TResultWriter {
 public:
  using TResultWriter::TResultWriter;

  void BeginResult(const std::vector<TResultColumn>& Columns) override {
    TResultWriter::BeginResult(Columns);
    if (FNoHeader) return;
    FLine.clear();
    for (size_t I = 0; I < Columns.size(); ++I) {
      if (I > 0) FLine += '\t';
      AppendField(Columns[I].Name);
    }
    FLine += '\n';
    Write(FLine);
  }

  void Row(const std::vector<vcl::Variant>& Values) override {
    ++FRowCount;
    FLine.clear();
    for (size_t I = 0; I < Values.size(); ++I) {
      if (I > 0) FLine += '\t';
      // The NULL text goes out as given, so that "\N" can stand for NULL.
      if (IsNull(Values[I])) FLine += FNullText;
      else {
        FCell.clear();
        AppendPlainText(FCell, Values[I], FColumns[I].Type, FColumns[I].Decimals);
        AppendField(FCell);
      }
    }
    FLine += '\n';
    Write(FLine);
  }

 private:
  void AppendField(const std::string& Text) {
    static constexpr TCharSet kEscaped("\\\t\n\r");
    if (!kEscaped.AnyIn(Text)) {
      FLine += Text;
      return;
    }
    for (char C : Text) {
      switch (C) {
        case '\\': FLine += "\\\\"; break;
        case '\t': FLine += "\\t"; break;
        case '\n': FLine += "\\n"; break;
        case '\r': FLine += "\\r"; break;
        default: FLine += C;
      }
    }
  }
};

// One JSON object per line, keys in column order, typed values: numbers as
// numbers, Booleans as true/false, NULL as null, binary as base64 text.
class TJsonWriter : public TResultWriter {
 public:
  using TResultWriter::TResultWriter;

  void BeginResult(const std::vector<TResultColumn>& Columns) override {
    TResultWriter::BeginResult(Columns);
    FKeys.clear();
    for (size_t I = 0; I < Columns.size(); ++I) {
      std::string Key;
      AppendJsonString(Key, Columns[I].Name);
      FKeys.push_back((I == 0 ? "{" : ",") + Key + ":");
    }
  }

  void Row(const std::vector<vcl::Variant>& Values) override {
    ++FRowCount;
    FLine.clear();
    for (size_t I = 0; I < Values.size(); ++I) {
      FLine += FKeys[I];
      AppendJsonValue(FLine, Values[I], FColumns[I].Type, FColumns[I].Decimals, FCell);
    }
    FLine += Values.empty() ? "{}\n" : "}\n";
    Write(FLine);
  }

 private:
  std::vector<std::string> FKeys;  // "{"name":" and ","name":" per column
};

}  // namespace

std::unique_ptr<TResultWriter> CreateResultWriter(TOutputFormat Format, std::FILE* Out, const std::string& NullText,
                                                  bool NoHeader) {
  switch (Format) {
    case ofCsv: return std::make_unique<TCsvWriter>(Out, NullText, NoHeader);
    case ofTsv: return std::make_unique<TTsvWriter>(Out, NullText, NoHeader);
    case ofJson: return std::make_unique<TJsonWriter>(Out, NullText, NoHeader);
    case ofTable: break;
  }
  return std::make_unique<TTableWriter>(Out, NullText, NoHeader);
}

}  // namespace vdbsql
