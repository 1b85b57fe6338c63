/* Reads and writes resources through the Windows resource functions, so the
 * tests can compare our PE layer with the platform's own loader.
 *
 *   probe <script>   runs one command a line:
 *       list <file>             every resource as the loader enumerates it
 *       update <file> <list>    replaces all resources with those in <list>
 *       checksum <file>         header and computed checksum (imagehlp)
 *   probe self       lists the running program's own resources
 *
 * A resource prints as "type<TAB>name<TAB>language<TAB>size<TAB>crc32". */
#include <windows.h>
#include <imagehlp.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned long crc32_of(const unsigned char *p, DWORD n)
{
    unsigned long crc = 0xFFFFFFFFul;
    for (DWORD i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1)));
    }
    return crc ^ 0xFFFFFFFFul;
}

static void print_id(LPCWSTR id)
{
    if (IS_INTRESOURCE(id)) {
        printf("%u", (unsigned)(ULONG_PTR)id);
        return;
    }
    char text[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, id, -1, text, sizeof text, NULL, NULL);
    fputs(n > 0 ? text : "?", stdout);
}

struct listing {
    HMODULE module;
    LPCWSTR type;
    LPCWSTR name;
    int count;
    int failed;
};

static BOOL CALLBACK on_language(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param)
{
    struct listing *l = (struct listing *)param;
    HRSRC found = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    const unsigned char *bytes = loaded ? LockResource(loaded) : NULL;
    DWORD size = found ? SizeofResource(module, found) : 0;
    print_id(type);
    putchar('\t');
    print_id(name);
    if (!bytes) {
        printf("\t%u\tNOTFOUND %lu\n", language, GetLastError());
        l->failed = 1;
    } else {
        printf("\t%u\t%lu\t%08lx\n", language, size, crc32_of(bytes, size));
    }
    l->count++;
    return TRUE;
}

static BOOL CALLBACK on_name(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    if (!EnumResourceLanguagesW(module, type, name, on_language, param)) {
        printf("ERROR EnumResourceLanguagesW %lu\n", GetLastError());
        ((struct listing *)param)->failed = 1;
    }
    return TRUE;
}

static BOOL CALLBACK on_type(HMODULE module, LPWSTR type, LONG_PTR param)
{
    EnumResourceNamesW(module, type, on_name, param);
    return TRUE;
}

static int list_module(HMODULE module)
{
    struct listing l = {module, NULL, NULL, 0, 0};
    EnumResourceTypesW(module, on_type, (LONG_PTR)&l);
    printf("END %d\n", l.count);
    return l.failed;
}

static int list_file(LPCWSTR path)
{
    HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("ERROR LoadLibraryExW %lu\n", GetLastError());
        return 1;
    }
    int failed = list_module(module);
    FreeLibrary(module);
    return failed;
}

static unsigned char *read_all(LPCWSTR path, DWORD *size)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return NULL;
    *size = GetFileSize(h, NULL);
    unsigned char *bytes = malloc(*size ? *size : 1);
    DWORD got = 0;
    if (!bytes || !ReadFile(h, bytes, *size, &got, NULL) || got != *size) {
        free(bytes);
        bytes = NULL;
    }
    CloseHandle(h);
    return bytes;
}

/* A digit-only name is passed as the number it spells, as the resource
 * module does; the caller frees nothing (the list buffer owns the text). */
static LPCWSTR to_id(WCHAR *text)
{
    if (!*text)
        return text;
    unsigned long value = 0;
    for (const WCHAR *p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9')
            return text;
        value = value * 10 + (unsigned long)(*p - L'0');
        if (value > 0xFFFF)
            return text;
    }
    return MAKEINTRESOURCEW(value);
}

/* list: u32 count, then per resource: u16 type length, UTF-16 type, u16
 * name length, UTF-16 name, u16 language, u32 size, bytes. */
static int update_file(LPCWSTR path, LPCWSTR list_path)
{
    DWORD size = 0;
    unsigned char *list = read_all(list_path, &size);
    if (!list || size < 4) {
        printf("ERROR list\n");
        return 1;
    }
    HANDLE update = BeginUpdateResourceW(path, TRUE);
    if (!update) {
        printf("ERROR BeginUpdateResourceW %lu\n", GetLastError());
        return 1;
    }
    DWORD at = 4, count;
    memcpy(&count, list, 4);
    int failed = 0;
    for (DWORD i = 0; i < count && !failed; ++i) {
        WCHAR *ids[2];
        for (int k = 0; k < 2; ++k) {
            WORD len;
            memcpy(&len, list + at, 2);
            ids[k] = calloc(len + 1u, sizeof(WCHAR));
            memcpy(ids[k], list + at + 2, len * 2u);
            at += 2 + len * 2u;
        }
        WORD language;
        DWORD data_size;
        memcpy(&language, list + at, 2);
        memcpy(&data_size, list + at + 2, 4);
        at += 6;
        if (!UpdateResourceW(update, to_id(ids[0]), to_id(ids[1]), language, list + at, data_size)) {
            printf("ERROR UpdateResourceW %lu\n", GetLastError());
            failed = 1;
        }
        at += data_size;
        free(ids[0]);
        free(ids[1]);
    }
    if (!EndUpdateResourceW(update, failed)) {
        printf("ERROR EndUpdateResourceW %lu\n", GetLastError());
        failed = 1;
    }
    free(list);
    if (!failed)
        printf("UPDATED\n");
    return failed;
}

static int checksum_file(LPWSTR path)
{
    DWORD header = 0, computed = 0;
    DWORD rc = MapFileAndCheckSumW(path, &header, &computed);
    if (rc != CHECKSUM_SUCCESS) {
        printf("ERROR MapFileAndCheckSumW %lu\n", rc);
        return 1;
    }
    printf("CHECKSUM %08lx %08lx\n", header, computed);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && wcscmp(argv[1], L"self") == 0)
        return list_module(GetModuleHandleW(NULL));
    if (argc != 2) {
        fputs("usage: probe <script> | probe self\n", stderr);
        return 2;
    }
    DWORD size = 0;
    unsigned char *script = read_all(argv[1], &size);
    if (!script) {
        fputs("cannot read the script\n", stderr);
        return 2;
    }
    int failed = 0;
    char *line = (char *)script;
    char *end = line + size;
    while (line < end) {
        char *next = memchr(line, '\n', (size_t)(end - line));
        if (!next)
            next = end;
        *next = 0;
        WCHAR wide[3 * MAX_PATH];
        MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, sizeof wide / sizeof wide[0]);
        WCHAR *args[3] = {NULL, NULL, NULL};
        int n = 0;
        for (WCHAR *p = wide; *p && n < 3;) {
            args[n++] = p;
            while (*p && *p != L'\t')
                ++p;
            if (*p)
                *p++ = 0;
        }
        if (n == 2 && wcscmp(args[0], L"list") == 0) {
            printf("FILE ");
            print_id(args[1]);
            putchar('\n');
            failed |= list_file(args[1]);
        } else if (n == 3 && wcscmp(args[0], L"update") == 0) {
            failed |= update_file(args[1], args[2]);
        } else if (n == 2 && wcscmp(args[0], L"checksum") == 0) {
            failed |= checksum_file(args[1]);
        } else if (n > 0) {
            printf("ERROR bad command\n");
            failed = 1;
        }
        line = next + 1;
    }
    fflush(stdout);
    free(script);
    return failed;
}
