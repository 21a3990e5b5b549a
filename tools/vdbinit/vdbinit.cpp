// vdbinit [-dba user,password] file.db
// Creates a new database holding the server's catalog and its DBA user
// (DBA with password SQL unless -dba says otherwise).
#include "dbsrv/Catalog.h"
#include "dbsrv/Errors.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vdbinit [-dba user,password] file.db\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string user = "DBA", password = "SQL", file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-dba") == 0) {
      if (i + 1 >= argc) return Usage();
      std::string arg = argv[++i];
      size_t comma = arg.find(',');
      if (comma == std::string::npos || comma == 0) return Usage();
      user = arg.substr(0, comma);
      password = arg.substr(comma + 1);
    } else if (argv[i][0] == '-' || !file.empty()) {
      return Usage();
    } else {
      file = argv[i];
    }
  }
  if (file.empty()) return Usage();
  try {
    vdbsrv::CreateDatabase(file, user, password);
  } catch (const vdbsrv::ServerError& e) {
    std::fprintf(stderr, "vdbinit: error %d: %s\n", e.Code(), e.Detail().message.c_str());
    return 1;
  }
  std::printf("Database %s created\n", file.c_str());
  return 0;
}
