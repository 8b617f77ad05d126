#include "prefwell/RegTable.h"

#include <cstring>
#include <vector>

namespace {

// A value as it was before a save touched it.
struct SavedValue {
  bool existed = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

// Reads the current contents of `name` so that a failed save can put it back.
bool Snapshot(HKEY key, LPCSTR name, SavedValue& saved) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG r = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) {
      saved.existed = false;
      return true;
    }
    if (r != ERROR_SUCCESS) return false;
    saved.bytes.resize(size);
    r = RegQueryValueExA(key, name, nullptr, &type, saved.bytes.empty() ? nullptr : saved.bytes.data(), &size);
    if (r == ERROR_MORE_DATA) continue; // changed by another writer meanwhile
    if (r != ERROR_SUCCESS) return false;
    saved.bytes.resize(size);
    saved.existed = true;
    saved.type = type;
    return true;
  }
  return false;
}

void Restore(HKEY key, LPCSTR name, const SavedValue& saved) {
  if (saved.existed)
    RegSetValueExA(key, name, 0, saved.type, saved.bytes.empty() ? nullptr : saved.bytes.data(),
                   static_cast<DWORD>(saved.bytes.size()));
  else
    RegDeleteValueA(key, name);
}

} // namespace

CRegTable::CRegTable() : open_key(nullptr), root(HKEY_LOCAL_MACHINE) {}

CRegTable::~CRegTable() { Close(); }

void CRegTable::Close() {
  if (open_key) {
    RegCloseKey(open_key);
    open_key = nullptr;
  }
}

void CRegTable::SetRoot(HKEY new_root) {
  Close();
  root = new_root;
}

REGRESULT CRegTable::ReadAll(RegKeyTable* table) {
  Close();
  if (RegOpenKeyExA(root, table->subkey, 0, KEY_READ, &open_key) != ERROR_SUCCESS) {
    open_key = nullptr;
    return REGERR_OPEN;
  }
  REGRESULT result = 0;
  for (RegEntry* entry = table->entries; entry; ++entry) {
    result = ReadValue(entry);
    if (result != 0 || (entry->kind & REGKIND_LAST)) break;
  }
  Close();
  return result;
}

REGRESULT CRegTable::ReadValue(RegEntry* entry) {
  if (!open_key) return REGERR_NOKEY;
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
      if (!entry->data.buffer) return REGERR_VALUE;
      DWORD size = entry->size;
      if (RegQueryValueExA(open_key, entry->name, nullptr, nullptr, reinterpret_cast<BYTE*>(entry->data.buffer),
                           &size) != ERROR_SUCCESS)
        return REGERR_VALUE;
      // A text buffer holds size + 1 bytes; raw data exactly size.
      if ((entry->kind & REGKIND_MASK) == REGKIND_TEXT) entry->data.buffer[size] = '\0';
      return 0;
    }
    default:
      return REGERR_KIND;
  }
}

REGRESULT CRegTable::WriteAll(RegKeyTable* table) {
  Close();
  if (RegOpenKeyExA(root, table->subkey, 0, KEY_READ | KEY_WRITE, &open_key) != ERROR_SUCCESS) {
    open_key = nullptr;
    return REGERR_OPEN;
  }
  // Every value is saved on its own by the registry, so a failure part way
  // puts the values already written back as they were.
  std::vector<std::pair<LPCSTR, SavedValue>> written;
  REGRESULT result = 0;
  for (RegEntry* entry = table->entries; entry; ++entry) {
    SavedValue before;
    if (!Snapshot(open_key, entry->name, before)) {
      result = REGERR_VALUE;
      break;
    }
    result = WriteValue(entry);
    if (result != 0) break;
    written.emplace_back(entry->name, std::move(before));
    if (entry->kind & REGKIND_LAST) break;
  }
  if (result != 0)
    for (auto it = written.rbegin(); it != written.rend(); ++it) Restore(open_key, it->first, it->second);
  Close();
  return result;
}

REGRESULT CRegTable::WriteValue(RegEntry* entry) {
  if (!open_key) return REGERR_NOKEY;
  LONG r;
  switch (entry->kind & REGKIND_MASK) {
    case REGKIND_NUMBER:
      r = RegSetValueExA(open_key, entry->name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&entry->data.number),
                         entry->size);
      break;
    case REGKIND_TEXT:
      if (!entry->data.buffer) return REGERR_VALUE;
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

REGRESULT CRegTable::CreateAll(RegKeyTable* table) {
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
