// Parser of `create procedure` and `create function` in the server's procedure language.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "dbsrv/DialectLexer.h"
#include "dbsrv/DialectTranslator.h"
#include "dbsrv/ProcAst.h"

namespace vdbsrv {

/// Parses the definition in tokens [B, E) of Source (from the word CREATE on).
/// Parameters and DECLAREd locals are the variables of the embedded SQL; names the
/// engine's IsVariable accepts (connection variables) are variables too.
/// Throws TDialectFault at the offending token.
std::shared_ptr<const TProcDefinition> ParseProcedure(const std::vector<TToken>& Tokens, size_t B, size_t E,
                                                      std::string_view Source, const TDialectHooks& Hooks);

}  // namespace vdbsrv
