/* SQLite as viewer.exe has it, driven from the command line so that a test
 * under wine can see FTS5 at work with the same compiler and options:
 *   sqlite_check --version            the library's version and source id
 *   sqlite_check DATABASE QUERIES     the rowids each query (a line of the
 *                                     UTF-8 file QUERIES) matches in the
 *                                     FTS5 table "pages" of DATABASE, opened
 *                                     read-only; ":memory:" makes a table of
 *                                     two rows first.
 * The queries come from a file, as wine turns arguments into UTF-16 by the
 * locale of whoever starts it. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "sqlite3.h"

static char* Utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char* bytes = size > 0 ? malloc((size_t)size) : NULL;
    if (!bytes || !WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, NULL, NULL)) {
        fputs("sqlite_check: an argument is no UTF-16 text\n", stderr);
        exit(2);
    }
    return bytes;
}

static int Fail(sqlite3* db, const char* what)
{
    fprintf(stderr, "sqlite_check: %s: %s\n", what, sqlite3_errmsg(db));
    sqlite3_close(db);
    return 1;
}

int wmain(int argc, wchar_t** argv)
{
    /* No "\r\n" for the test to compare. */
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && wcscmp(argv[1], L"--version") == 0) {
        printf("%s %s\n", sqlite3_libversion(), sqlite3_sourceid());
        return 0;
    }
    if (argc != 3) {
        fputs("usage: sqlite_check --version | DATABASE QUERIES\n", stderr);
        return 2;
    }
    FILE* queries = _wfopen(argv[2], L"rb");
    if (!queries) {
        fputs("sqlite_check: cannot open the queries\n", stderr);
        return 2;
    }

    char* name = Utf8(argv[1]);
    const int inMemory = strcmp(name, ":memory:") == 0;
    sqlite3* db = NULL;
    if (sqlite3_open_v2(name, &db, inMemory ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, NULL) != SQLITE_OK)
        return Fail(db, name);
    free(name);
    if (inMemory
        && sqlite3_exec(db,
                        "CREATE VIRTUAL TABLE pages USING fts5(body,"
                        " tokenize = 'porter unicode61 remove_diacritics 2');"
                        "INSERT INTO pages(rowid, body) VALUES (1, 'caf\xC3\xA9 running'), (2, 'The walk home');",
                        NULL, NULL, NULL)
            != SQLITE_OK)
        return Fail(db, "making the table");

    sqlite3_stmt* select = NULL;
    if (sqlite3_prepare_v2(db, "SELECT rowid FROM pages WHERE pages MATCH ?1 ORDER BY rowid", -1, &select, NULL)
        != SQLITE_OK)
        return Fail(db, "preparing the query");
    char query[1000];
    while (fgets(query, sizeof query, queries)) {
        query[strcspn(query, "\r\n")] = '\0';
        sqlite3_reset(select);
        sqlite3_bind_text(select, 1, query, -1, SQLITE_TRANSIENT);
        printf("%s:", query);
        int step;
        while ((step = sqlite3_step(select)) == SQLITE_ROW)
            printf(" %lld", sqlite3_column_int64(select, 0));
        printf("\n");
        if (step != SQLITE_DONE) {
            sqlite3_finalize(select);
            return Fail(db, "running the query");
        }
    }
    fclose(queries);
    sqlite3_finalize(select);
    sqlite3_close(db);
    return 0;
}
