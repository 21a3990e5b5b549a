/*
 * vdb_esql.h -- the embedded-SQL client library's published interface.
 *
 * Applications never link the library: they load it by file name and bind
 * each entry point by name, so this header publishes the structures, the
 * type codes, the callback types and one function-pointer type per entry
 * point (name_fn). Library versions below 7 take a program block right
 * after the SQLCA in every dbpp_ call; those entry points have a second
 * pointer type with the suffix _pb_fn.
 *
 * Every entry point that reports through the SQLCA also returns the
 * resulting sqlcode (or -1 when no SQLCA could be written at all), so the
 * return value and sqlca.sqlcode always agree.
 */
#ifndef VDB_ESQL_H
#define VDB_ESQL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- SQL communication area: one per connection context, 136 bytes ---- */

typedef struct sqlca {
    char     sqlcaid[8];    /* "SQLCA" NUL-terminated; written by the application after db_init */
    int32_t  sqlcabc;       /* 136, the structure's size */
    int32_t  sqlcode;       /* 0 success, < 0 error, > 0 warning (100 no row, 101 truncated, 105 procedure completed) */
    int16_t  sqlerrml;      /* bytes of sqlerrmc in use */
    char     sqlerrmc[70];  /* the substitution text of the current message; not NUL-terminated when full */
    char     sqlerrp[8];    /* reserved */
    int32_t  sqlerrd[6];    /* [2] is SQLCOUNT (rows, page counts, sizes); [1] error position; others reserved */
    char     sqlwarn[8];    /* [0] 'W' when any warning flag is set, [1] 'W' value truncated */
    char     sqlstate[6];   /* five-character SQLSTATE, NUL-terminated */
    char     sqlreserved[2];
} SQLCA;

#define SQLCOUNT(ca)    ((ca).sqlerrd[2])
#define SQLIOCOUNT(ca)  ((ca).sqlerrd[1])

/* ---- SQL descriptor area ---- */

#define SQL_NAME_LENGTH 30

struct sqlname {
    int16_t length;                 /* bytes of data in use */
    char    data[SQL_NAME_LENGTH];  /* column or variable name, NUL-padded, not terminated when full */
};

struct sqlvar {
    int16_t        sqltype;   /* type code below; bit 0 set = nullable */
    uint16_t       sqllen;    /* buffer bytes; for DT_DECIMAL precision in the low, scale in the high byte */
    void*          sqldata;   /* value buffer, owned by whoever filled it */
    int16_t*       sqlind;    /* -1 NULL, 0 value, > 0 length before truncation; may be NULL */
    struct sqlname sqlname;
};

typedef struct sqlda {
    char     sqldaid[8];  /* "SQLDA   " */
    int32_t  sqldabc;     /* bytes of the whole block, entries included */
    int16_t  sqln;        /* entries allocated */
    int16_t  sqld;        /* entries in use; a describe reports the count it needs here */
    struct sqlvar sqlvar[1];  /* sqln entries follow */
} SQLDA;

/* ---- date-time structure, 14 bytes, packed ---- */

#pragma pack(push, 1)
typedef struct sqldatetime {
    uint16_t year;         /* 1..9999, 0 for a pure time */
    uint8_t  month;        /* 0..11 */
    uint8_t  day_of_week;  /* 0 = Sunday */
    uint16_t day_of_year;  /* 0..365 */
    uint8_t  day;          /* 1..31 */
    uint8_t  hour;
    uint8_t  minute;
    uint8_t  second;
    uint32_t microsecond;  /* 0..999999 */
} SQLDATETIME;

/* Program block passed after the SQLCA to dbpp_ calls below library version 7:
 * fourteen zero bytes, then two pointers to the same 16-bit constant
 * (4 for versions 4 and 5, 6 for version 6). */
typedef struct a_program_block {
    char           pb_reserved[14];
    const int16_t* pb_version;
    const int16_t* pb_version_copy;
} a_program_block;
#pragma pack(pop)

/* ---- server record handed to the locate callback ---- */

typedef struct a_server_address {
    uint32_t port_type;    /* the server's port; 0 for a server in this process */
    char     name[252];    /* engine name, NUL-terminated */
    char     address[64];  /* network address text, NUL-terminated */
} a_server_address;

/* ---- type codes (bit 0 of sqltype is the nullable flag) ---- */

#define DT_NULLABLE       1
#define DT_TYPES          0x0FFE  /* mask that removes the nullable bit */

#define DT_DATE           384
#define DT_TIME           388
#define DT_TIMESTAMP_STRUCT 390
#define DT_TIMESTAMP      392
#define DT_VARCHAR        448
#define DT_FIXCHAR        452
#define DT_LONGVARCHAR    456
#define DT_STRING         460
#define DT_DOUBLE         480
#define DT_FLOAT          482
#define DT_DECIMAL        484
#define DT_INT            496
#define DT_SMALLINT       500
#define DT_BINARY         524
#define DT_LONGBINARY     528
#define DT_VARIABLE       600
#define DT_TINYINT        604
#define DT_BIGINT         608
#define DT_UNSINT         612
#define DT_UNSSMALLINT    616
#define DT_UNSBIGINT      620
#define DT_BIT            624

/* ---- sqlcodes the library and its server answer ---- */

#define SQLE_NOERROR                  0
#define SQLE_NOTFOUND               100
#define SQLE_TRUNCATED              101
#define SQLE_PROCEDURE_COMPLETE     105
#define SQLE_NEEDS_QUOTES           200
#define SQLE_START_STOP_DATABASE_DENIED  -75
#define SQLE_NO_MEMORY               -78
#define SQLE_UNABLE_TO_START_ENGINE  -80
#define SQLE_DATABASE_NAME_NOT_UNIQUE -77
#define SQLE_UNABLE_TO_START_DATABASE -82
#define SQLE_DATABASE_NOT_FOUND      -83
#define SQLE_CONNECTION_PARSE_ERROR  -95
#define SQLE_ENGINE_ALREADY_RUNNING  -96
#define SQLE_ENGINE_NOT_RUNNING     -100
#define SQLE_NOT_CONNECTED          -101
#define SQLE_INVALID_LOGON          -103
#define SQLE_CONNECTION_NOT_FOUND   -108
#define SQLE_CALLBACK_INVALID       -130
#define SQLE_NOT_IMPLEMENTED        -134
#define SQLE_INVALID_OPTION         -200
#define SQLE_INVALID_OPTION_SETTING -201
#define SQLE_BACKUP_NOT_STARTED     -240
#define SQLE_BACKUP_CANNOT_RENAME_LOG_YET -242
#define SQLE_INTERRUPTED            -299
#define SQLE_ERROR                  -300
#define SQLE_CONNECTION_TERMINATED  -308
#define SQLE_INVALID_PARAMETER      -735
#define SQLE_FILE_IN_USE            -816

/* ---- callbacks, registered per SQLCA with db_register_a_callback ---- */

#define DB_CALLBACK_START          0  /* db_callback_fn, before every request */
#define DB_CALLBACK_WAIT           1  /* db_callback_fn, repeatedly while a request runs long */
#define DB_CALLBACK_FINISH         2  /* db_callback_fn, after every request */
#define DB_CALLBACK_MESSAGE        7  /* db_message_callback_fn, server messages during a request */
#define DB_CALLBACK_CONN_DROPPED   8  /* db_dropped_callback_fn, the server dropped the connection */
#define DB_CALLBACK_DEBUG_MESSAGE  9  /* db_debug_callback_fn, the library's trace (Debug=YES) */

/* Message types of DB_CALLBACK_MESSAGE. */
#define MESSAGE_TYPE_INFO    0
#define MESSAGE_TYPE_WARNING 1
#define MESSAGE_TYPE_ACTION  2
#define MESSAGE_TYPE_STATUS  3

typedef void (*db_any_callback_fn)(void);  /* registration type; cast to the kind of the index */
typedef void (*db_callback_fn)(SQLCA* sqlca);
typedef void (*db_message_callback_fn)(SQLCA* sqlca, uint8_t msg_type, int32_t code,
                                       uint16_t length, const char* msg);
typedef void (*db_dropped_callback_fn)(SQLCA* sqlca, const char* connection_name);
typedef void (*db_debug_callback_fn)(SQLCA* sqlca, const char* text);
/* Answers 1 to continue with the next server, 0 to stop. */
typedef int32_t (*db_locate_callback_fn)(SQLCA* sqlca, const a_server_address* server,
                                         void* user_value);

/* ---- connection information, properties, backup ---- */

#define DB_INFO_ENGINE_VERSION  1
#define DB_INFO_ENGINE_NAME     2
#define DB_INFO_DATABASE_NAME   3

#define DB_PROP_SERVER_ADDRESS  0

#define DB_BACKUP_START         1  /* SQLCOUNT = page size */
#define DB_BACKUP_OPEN_FILE     2  /* SQLCOUNT = pages, sqlerrmc = the server's file name */
#define DB_BACKUP_READ_PAGE     3  /* one page into a DT_BINARY entry: 16-bit length, bytes */
#define DB_BACKUP_CLOSE_FILE    4
#define DB_BACKUP_END           5
#define DB_BACKUP_READ_RENAME_LOG 6  /* as 3; after the last page the log is renamed and restarted */

#define DB_BACKUP_FILE_WRITE   (-1)  /* the write file */
#define DB_BACKUP_FILE_LOG     (-2)  /* the transaction log; 0..12 are the database files */

/* Cursor flags of dbpp_declare and dbpp_open. */
#define CUR_READONLY     0x0002
#define CUR_NOSCROLL     0x0004
#define CUR_ISOLATION    0x0040
#define CUR_FIXEDSCROLL  0x0080
#define CUR_INSENSITIVE  0x0400
#define CUR_UNIQUE       0x0800
#define CUR_UPDATE       0x1000

/* Fetch kinds and options. */
#define FETCH_ABSOLUTE   1
#define FETCH_RELATIVE   2
#define FETCH_LOCK       8

/* Describe kinds. */
#define DESCRIBE_SELECT_LIST  1
#define DESCRIBE_BIND_VARS    2
#define DESCRIBE_PROBE        9
#define DESCRIBE_NAMES_COLUMNS 1
#define DESCRIBE_NAMES_TABLE   2

/* ---- entry points: one pointer type each ---- */

/* Library frame (no SQLCA for db_version_check). */
typedef int32_t (*db_init_fn)(SQLCA* sqlca);          /* non-zero = ready */
typedef int32_t (*db_fini_fn)(SQLCA* sqlca);          /* non-zero = done */
typedef int32_t (*db_version_check_fn)(uint32_t version);  /* non-zero = accepted */

/* Connections, engines, databases. */
typedef int32_t (*db_string_connect_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_string_disconnect_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_start_engine_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_stop_engine_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_start_database_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_stop_database_fn)(SQLCA* sqlca, const char* params);
typedef int32_t (*db_delete_file_fn)(SQLCA* sqlca, const char* file_name);
typedef int32_t (*db_find_engine_fn)(SQLCA* sqlca, const char* engine_name);
typedef int32_t (*db_string_ping_server_fn)(SQLCA* sqlca, const char* params, int32_t connect_to_db);

/* Services. */
typedef int32_t (*db_register_a_callback_fn)(SQLCA* sqlca, int32_t index, db_any_callback_fn fn);
typedef char* (*sqlerror_message_fn)(SQLCA* sqlca, char* buffer, int32_t max);
typedef int32_t (*db_cancel_request_fn)(SQLCA* sqlca);
typedef int32_t (*db_is_working_fn)(SQLCA* sqlca);     /* 1 = a request is running */
typedef int32_t (*db_time_change_fn)(SQLCA* sqlca);
typedef int32_t (*db_backup_fn)(SQLCA* sqlca, int32_t op, int32_t file, uint32_t page, SQLDA* sqlda);
typedef int32_t (*db_connection_info_fn)(SQLCA* sqlca, int32_t index, SQLDA* sqlda);  /* 1 = text */
typedef int32_t (*db_get_property_fn)(SQLCA* sqlca, int32_t property, char* buffer, int32_t size);  /* 1 = text */
typedef int32_t (*db_locate_servers_fn)(SQLCA* sqlca, db_locate_callback_fn fn, void* user_value);
typedef int32_t (*sql_needs_quotes_fn)(SQLCA* sqlca, const char* identifier);  /* sqlcode 200 = quote */

/* Descriptor helpers (no SQLCA). */
typedef SQLDA* (*alloc_sqlda_fn)(uint32_t count);
typedef SQLDA* (*alloc_sqlda_noind_fn)(uint32_t count);
typedef SQLDA* (*fill_sqlda_fn)(SQLDA* sqlda);         /* NULL = failed, nothing allocated */
typedef void (*free_sqlda_fn)(SQLDA* sqlda);
typedef void (*free_sqlda_noind_fn)(SQLDA* sqlda);
typedef void (*free_filled_sqlda_fn)(SQLDA* sqlda);

/* Statements and cursors, library version 7 and later. "reserved" arguments take 0;
 * "program" is the program name ("VDB"); stmt points at the 16-bit statement number. */
typedef int32_t (*dbpp_prepare_fn)(SQLCA* sqlca, const char* reserved, const char* program,
                                   int16_t* stmt, const char* text, SQLDA* reserved_sqlda,
                                   uint32_t reserved_kind);
typedef int32_t (*dbpp_dropstmt_fn)(SQLCA* sqlca, const char* reserved, const char* program,
                                    int16_t* stmt);
typedef int32_t (*dbpp_describe_fn)(SQLCA* sqlca, const char* reserved, const char* program,
                                    int16_t* stmt, SQLDA* sqlda, uint32_t kind);
typedef int32_t (*dbpp_describe_cursor_fn)(SQLCA* sqlca, const char* cursor, SQLDA* sqlda,
                                           uint32_t kind);
typedef int32_t (*dbpp_describe_names_fn)(SQLCA* sqlca, const char* reserved, const char* program,
                                          int16_t* stmt, const char* cursor, SQLDA* sqlda,
                                          uint32_t width, uint32_t kind);
typedef int32_t (*dbpp_declare_fn)(SQLCA* sqlca, const char* cursor, const char* reserved,
                                   const char* program, int16_t* stmt, uint32_t flags);
typedef int32_t (*dbpp_open_fn)(SQLCA* sqlca, const char* cursor, const char* reserved,
                                const char* program, int16_t* stmt, SQLDA* bind,
                                SQLDA* reserved_sqlda, int32_t isolation, uint32_t flags);
typedef int32_t (*dbpp_fetch_fn)(SQLCA* sqlca, const char* cursor, int32_t kind, int32_t offset,
                                 SQLDA* sqlda, void* reserved, uint32_t option);
typedef int32_t (*dbpp_fetch_array_fn)(SQLCA* sqlca, const char* cursor, int32_t kind,
                                       int32_t offset, SQLDA* sqlda, void* reserved,
                                       uint32_t option, uint32_t rows);
typedef int32_t (*dbpp_get_data_fn)(SQLCA* sqlca, const char* cursor, uint32_t column,
                                    uint32_t offset, SQLDA* sqlda, uint32_t reserved);
typedef int32_t (*dbpp_put_into_fn)(SQLCA* sqlca, const char* cursor, SQLDA* values,
                                    SQLDA* fetch_sqlda);
typedef int32_t (*dbpp_update_fn)(SQLCA* sqlca, const char* cursor, SQLDA* values);
typedef int32_t (*dbpp_delete_fn)(SQLCA* sqlca, const char* cursor, void* reserved1,
                                  void* reserved2);
typedef int32_t (*dbpp_resume_fn)(SQLCA* sqlca, const char* cursor);
typedef int32_t (*dbpp_close_fn)(SQLCA* sqlca, const char* cursor);
typedef int32_t (*dbpp_explain_fn)(SQLCA* sqlca, const char* cursor, void* reserved, SQLDA* sqlda);
typedef int32_t (*dbpp_execute_into_fn)(SQLCA* sqlca, const char* reserved, const char* program,
                                        int16_t* stmt, SQLDA* in, SQLDA* out);
typedef int32_t (*dbpp_execute_imm_fn)(SQLCA* sqlca, const char* text, uint32_t kind);
typedef int32_t (*dbpp_commit_fn)(SQLCA* sqlca, uint32_t reserved);
typedef int32_t (*dbpp_rollback_fn)(SQLCA* sqlca, uint32_t reserved);
/* scope: 0 when reading, 1 when setting; user: 0 for the connection's own setting. */
typedef int32_t (*dbpp_getoption_fn)(SQLCA* sqlca, int32_t scope, const char* user,
                                     const char* name, SQLDA* sqlda);
typedef int32_t (*dbpp_setoption_fn)(SQLCA* sqlca, int32_t scope, const char* user,
                                     const char* name, SQLDA* sqlda);

/* The same statement entry points below library version 7: the program block follows the SQLCA. */
typedef const a_program_block* PB;
typedef int32_t (*dbpp_prepare_pb_fn)(SQLCA*, PB, const char*, const char*, int16_t*, const char*,
                                      SQLDA*, uint32_t);
typedef int32_t (*dbpp_dropstmt_pb_fn)(SQLCA*, PB, const char*, const char*, int16_t*);
typedef int32_t (*dbpp_describe_pb_fn)(SQLCA*, PB, const char*, const char*, int16_t*, SQLDA*,
                                       uint32_t);
typedef int32_t (*dbpp_describe_cursor_pb_fn)(SQLCA*, PB, const char*, SQLDA*, uint32_t);
typedef int32_t (*dbpp_describe_names_pb_fn)(SQLCA*, PB, const char*, const char*, int16_t*,
                                             const char*, SQLDA*, uint32_t, uint32_t);
typedef int32_t (*dbpp_declare_pb_fn)(SQLCA*, PB, const char*, const char*, const char*, int16_t*,
                                      uint32_t);
typedef int32_t (*dbpp_open_pb_fn)(SQLCA*, PB, const char*, const char*, const char*, int16_t*,
                                   SQLDA*, SQLDA*, int32_t, uint32_t);
typedef int32_t (*dbpp_fetch_pb_fn)(SQLCA*, PB, const char*, int32_t, int32_t, SQLDA*, void*,
                                    uint32_t);
typedef int32_t (*dbpp_fetch_array_pb_fn)(SQLCA*, PB, const char*, int32_t, int32_t, SQLDA*, void*,
                                          uint32_t, uint32_t);
typedef int32_t (*dbpp_get_data_pb_fn)(SQLCA*, PB, const char*, uint32_t, uint32_t, SQLDA*,
                                       uint32_t);
typedef int32_t (*dbpp_put_into_pb_fn)(SQLCA*, PB, const char*, SQLDA*, SQLDA*);
typedef int32_t (*dbpp_update_pb_fn)(SQLCA*, PB, const char*, SQLDA*);
typedef int32_t (*dbpp_delete_pb_fn)(SQLCA*, PB, const char*, void*, void*);
typedef int32_t (*dbpp_resume_pb_fn)(SQLCA*, PB, const char*);
typedef int32_t (*dbpp_close_pb_fn)(SQLCA*, PB, const char*);
typedef int32_t (*dbpp_explain_pb_fn)(SQLCA*, PB, const char*, void*, SQLDA*);
typedef int32_t (*dbpp_execute_into_pb_fn)(SQLCA*, PB, const char*, const char*, int16_t*, SQLDA*,
                                           SQLDA*);
typedef int32_t (*dbpp_execute_imm_pb_fn)(SQLCA*, PB, const char*, uint32_t);
typedef int32_t (*dbpp_commit_pb_fn)(SQLCA*, PB, uint32_t);
typedef int32_t (*dbpp_rollback_pb_fn)(SQLCA*, PB, uint32_t);
typedef int32_t (*dbpp_getoption_pb_fn)(SQLCA*, PB, int32_t, const char*, const char*, SQLDA*);
typedef int32_t (*dbpp_setoption_pb_fn)(SQLCA*, PB, int32_t, const char*, const char*, SQLDA*);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(SQLCA) == 136, "SQLCA is 136 bytes");
static_assert(offsetof(SQLCA, sqlcabc) == 8);
static_assert(offsetof(SQLCA, sqlcode) == 12);
static_assert(offsetof(SQLCA, sqlerrml) == 16);
static_assert(offsetof(SQLCA, sqlerrmc) == 18);
static_assert(offsetof(SQLCA, sqlerrd) == 96);
static_assert(offsetof(SQLCA, sqlwarn) == 120);
static_assert(offsetof(SQLCA, sqlstate) == 128);
static_assert(sizeof(struct sqlname) == 32, "name of an SQLDA entry is 2 + 30 bytes");
static_assert(offsetof(struct sqlvar, sqltype) == 0);
static_assert(offsetof(struct sqlvar, sqllen) == 2);
static_assert(offsetof(struct sqlvar, sqldata) == 8);
static_assert(offsetof(struct sqlvar, sqlind) == 8 + sizeof(void*));
static_assert(offsetof(struct sqlvar, sqlname) == 8 + 2 * sizeof(void*));
static_assert(offsetof(SQLDA, sqldabc) == 8);
static_assert(offsetof(SQLDA, sqln) == 12);
static_assert(offsetof(SQLDA, sqld) == 14);
static_assert(offsetof(SQLDA, sqlvar) == 16);
static_assert(sizeof(SQLDATETIME) == 14, "sqldatetime is 14 bytes, packed");
static_assert(offsetof(SQLDATETIME, day_of_year) == 4);
static_assert(offsetof(SQLDATETIME, day) == 6);
static_assert(offsetof(SQLDATETIME, microsecond) == 10);
static_assert(sizeof(a_program_block) == 14 + 2 * sizeof(void*));
static_assert(sizeof(a_server_address) == 320);
#endif

#endif /* VDB_ESQL_H */
