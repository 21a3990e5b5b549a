// The version-independent bodies of the statement and cursor entry points.
#pragma once

#include "dblib/Client.h"
#include "vdb_esql.h"

namespace vdblib {

int32_t Prepare(SQLCA* ca, int16_t* stmt, const char* text);
int32_t DropStatement(SQLCA* ca, int16_t* stmt);
int32_t Describe(SQLCA* ca, int16_t* stmt, SQLDA* sqlda, uint32_t kind);
int32_t DescribeCursor(SQLCA* ca, const char* cursor, SQLDA* sqlda, uint32_t kind);
int32_t DescribeNames(SQLCA* ca, int16_t* stmt, const char* cursor, SQLDA* sqlda, uint32_t kind);
int32_t Declare(SQLCA* ca, const char* cursor, int16_t* stmt, uint32_t flags);
int32_t Open(SQLCA* ca, const char* cursor, int16_t* stmt, SQLDA* bind, int32_t isolation,
             uint32_t flags);
int32_t Fetch(SQLCA* ca, const char* cursor, int32_t kind, int32_t offset, SQLDA* sqlda,
              uint32_t option, uint32_t rows);
int32_t GetData(SQLCA* ca, const char* cursor, uint32_t column, uint32_t offset, SQLDA* sqlda);
int32_t PutInto(SQLCA* ca, const char* cursor, SQLDA* values, SQLDA* fetchSqlda);
int32_t Update(SQLCA* ca, const char* cursor, SQLDA* values);
int32_t Delete(SQLCA* ca, const char* cursor);
int32_t Resume(SQLCA* ca, const char* cursor);
int32_t Close(SQLCA* ca, const char* cursor);
int32_t Explain(SQLCA* ca, const char* cursor, SQLDA* sqlda);
int32_t ExecuteInto(SQLCA* ca, int16_t* stmt, SQLDA* in, SQLDA* out);
int32_t ExecuteText(SQLCA* ca, const char* text);

}  // namespace vdblib
