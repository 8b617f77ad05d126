// Table-driven access to one registry key: a RegKeyTable names the subkey and
// lists its values as RegEntry rows; CRegTable reads or writes all rows at once.
#pragma once

#include <windows.h>

// Result codes (0 = success).
#define REGERR_KIND 0x9800  // a row has an unknown kind
#define REGERR_OPEN 0x9801  // the key could not be opened (missing, or no access)
#define REGERR_VALUE 0x9802 // a value could not be queried or set
#define REGERR_NOKEY 0x9804 // a value was read or written with no key open

// Row kinds (low 15 bits of RegEntry::kind); REGKIND_LAST marks the last row.
#define REGKIND_NUMBER 0
#define REGKIND_TEXT 1
#define REGKIND_RAW 2
#define REGKIND_MASK 0x7FFF
#define REGKIND_LAST 0x8000

typedef WORD REGRESULT;

struct RegEntry {
    WORD kind;     // REGKIND_* | REGKIND_LAST on the last row
    WORD reserved; // always 0
    LPCSTR name;   // value name
    union {
        char* buffer; // kinds 1 and 2: where the value lives
        DWORD number; // kind 0: the value itself
    } data;           // {0} / {nullptr} clears all of it
    DWORD size;       // 4 for numbers; the most bytes read for texts and raw data
};

struct RegKeyTable {
    LPCSTR subkey;
    RegEntry* entries; // first row
};

class CRegTable {
public:
    CRegTable();
    ~CRegTable();
    CRegTable(const CRegTable&) = delete;
    CRegTable& operator=(const CRegTable&) = delete;

    // Closes a key left open and makes `root` the key the table lives under.
    void SetRoot(HKEY root);

    // Reads every row, stopping at the first failure.
    REGRESULT ReadAll(RegKeyTable* table);
    // Writes every row, all or nothing: the rows are committed together, and a
    // failing row or commit leaves every value as it was.
    REGRESULT WriteAll(RegKeyTable* table);
    // Creates the subkey (no values).
    REGRESULT CreateAll(RegKeyTable* table);

    // One row through the key opened by ReadAll/WriteAll.
    REGRESULT ReadValue(RegEntry* entry);
    REGRESULT WriteValue(RegEntry* entry);

private:
    HKEY open_key;
    HKEY root;

    void Close();
};
