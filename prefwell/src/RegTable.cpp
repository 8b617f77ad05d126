#include "prefwell/RegTable.h"

#include <cstring>

CRegTable::CRegTable() : open_key(nullptr), root(HKEY_LOCAL_MACHINE) {}

CRegTable::~CRegTable() { Close(); }

void CRegTable::Close()
{
    if (open_key) {
        RegCloseKey(open_key);
        open_key = nullptr;
    }
}

void CRegTable::SetRoot(HKEY new_root)
{
    Close();
    root = new_root;
}

REGRESULT CRegTable::ReadAll(RegKeyTable* table)
{
    Close();
    if (RegOpenKeyExA(root, table->subkey, 0, KEY_READ, &open_key) != ERROR_SUCCESS) {
        open_key = nullptr;
        return REGERR_OPEN;
    }
    REGRESULT result = 0;
    for (RegEntry* entry = table->entries; entry; ++entry) {
        result = ReadValue(entry);
        if (result != 0 || (entry->kind & REGKIND_LAST))
            break;
    }
    Close();
    return result;
}

REGRESULT CRegTable::ReadValue(RegEntry* entry)
{
    if (!open_key)
        return REGERR_NOKEY;
    switch (entry->kind & REGKIND_MASK) {
    case REGKIND_NUMBER: {
        // Read aside first: a value of another size leaves the row untouched.
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExA(open_key, entry->name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            size != sizeof value)
            return REGERR_VALUE;
        entry->data.number = value;
        return 0;
    }
    case REGKIND_TEXT:
    case REGKIND_RAW: {
        if (!entry->data.buffer)
            return REGERR_VALUE;
        DWORD size = entry->size;
        if (RegQueryValueExA(open_key, entry->name, nullptr, nullptr, reinterpret_cast<BYTE*>(entry->data.buffer),
                             &size) != ERROR_SUCCESS)
            return REGERR_VALUE;
        // A text buffer holds size + 1 bytes; raw data exactly size.
        if ((entry->kind & REGKIND_MASK) == REGKIND_TEXT)
            entry->data.buffer[size] = '\0';
        return 0;
    }
    default:
        return REGERR_KIND;
    }
}

REGRESULT CRegTable::WriteAll(RegKeyTable* table)
{
    Close();
    // The rows are written in one transaction: they reach the registry together
    // at the commit, or none does.
    HANDLE transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    if (transaction == INVALID_HANDLE_VALUE)
        return REGERR_OPEN;
    if (RegOpenKeyTransactedA(root, table->subkey, 0, KEY_READ | KEY_WRITE, &open_key, transaction, nullptr) !=
        ERROR_SUCCESS) {
        open_key = nullptr;
        CloseHandle(transaction);
        return REGERR_OPEN;
    }
    REGRESULT result = 0;
    for (RegEntry* entry = table->entries; entry; ++entry) {
        result = WriteValue(entry);
        if (result != 0 || (entry->kind & REGKIND_LAST))
            break;
    }
    Close();
    // A commit that cannot save is a value that could not be set.
    if (result == 0 && !CommitTransaction(transaction))
        result = REGERR_VALUE;
    CloseHandle(transaction); // rolls back what a failed row left staged
    return result;
}

REGRESULT CRegTable::WriteValue(RegEntry* entry)
{
    if (!open_key)
        return REGERR_NOKEY;
    LONG r;
    switch (entry->kind & REGKIND_MASK) {
    case REGKIND_NUMBER:
        r = RegSetValueExA(open_key, entry->name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&entry->data.number),
                           entry->size);
        break;
    case REGKIND_TEXT:
        if (!entry->data.buffer)
            return REGERR_VALUE;
        // Stored without its terminator.
        r = RegSetValueExA(open_key, entry->name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry->data.buffer),
                           static_cast<DWORD>(strnlen(entry->data.buffer, entry->size)));
        break;
    case REGKIND_RAW:
        r = RegSetValueExA(open_key, entry->name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(entry->data.buffer),
                           entry->size);
        break;
    default:
        return REGERR_KIND;
    }
    return r == ERROR_SUCCESS ? 0 : REGERR_VALUE;
}

REGRESULT CRegTable::CreateAll(RegKeyTable* table)
{
    Close();
    char no_class[] = "";
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(root, table->subkey, 0, no_class, 0, KEY_READ, nullptr, &created, &disposition) !=
        ERROR_SUCCESS)
        return REGERR_OPEN;
    RegCloseKey(created);
    return 0;
}
