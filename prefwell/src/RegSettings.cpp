#include "prefwell/RegSettings.h"

#include <cstring>

namespace {

enum Row {
    ADAPTER,
    AUTOASSIGN,
    RESERVATION,
    RETRIES,
    TIMEOUT,
    DELAY,
    RD_COMMUNITY,
    WR_COMMUNITY,
    SWITCHES,
    SWITCHMASK
};

// The key's rows in order. Each store copies them and points the text rows at
// its own buffers.
const RegEntry kEntries[] = {
    {REGKIND_NUMBER, 0, "Adapter", {0}, 4},
    {REGKIND_NUMBER, 0, "AutoAssign", {0}, 4},
    {REGKIND_NUMBER, 0, "Reservation", {0}, 4},
    {REGKIND_NUMBER, 0, "Retries", {0}, 4},
    {REGKIND_NUMBER, 0, "Timeout", {0}, 4},
    {REGKIND_NUMBER, 0, "Delay", {0}, 4},
    {REGKIND_TEXT, 0, "RD_Community", {0}, REG_COMMUNITY_MAX},
    {REGKIND_TEXT, 0, "WR_Community", {0}, REG_COMMUNITY_MAX},
    {REGKIND_NUMBER, 0, "Switches", {0}, 4},
    {REGKIND_NUMBER | REGKIND_LAST, 0, "SwitchMask", {0}, 4},
};
static_assert(sizeof kEntries / sizeof kEntries[0] == 10);

const char kDefaultReadCommunity[] = "tagrok";
const char kDefaultWriteCommunity[] = "quenmil";

int SetCommunity(char* buffer, LPCSTR text)
{
    if (!text)
        return REG_COMMUNITY_MAX;
    size_t length = strnlen(text, REG_COMMUNITY_MAX + 1);
    if (length > REG_COMMUNITY_MAX)
        return REG_COMMUNITY_MAX;
    memcpy(buffer, text, length + 1);
    return static_cast<int>(length + 1);
}

void GetCommunity(const char* buffer, LPSTR dest, int capacity)
{
    if (!dest || capacity <= 0)
        return;
    size_t length = strlen(buffer);
    // Copy only what fits with its terminator.
    if (capacity < REG_COMMUNITY_MAX || length + 1 > static_cast<size_t>(capacity)) {
        dest[0] = '\0';
        return;
    }
    memcpy(dest, buffer, length + 1);
}

} // namespace

CRegSettings::CRegSettings() : m_readCommunity{}, m_writeCommunity{}, m_table(new CRegTable)
{
    memcpy(m_entries, kEntries, sizeof m_entries);
    m_entries[RD_COMMUNITY].data.buffer = m_readCommunity;
    m_entries[WR_COMMUNITY].data.buffer = m_writeCommunity;
    m_keyTable.subkey = REG_SETTINGS_KEY;
    m_keyTable.entries = m_entries;
}

CRegSettings::~CRegSettings() { delete m_table; }

void CRegSettings::SetDefaults()
{
    m_entries[SWITCHES].data.number = SWITCH_CONFIG | SWITCH_REPORT | SWITCH_ADVANCED | SWITCH_SNMP;
    m_entries[SWITCHMASK].data.number = SWITCH_CONFIG | SWITCH_REPORT | SWITCH_ADVANCED | SWITCH_SNMP;
    m_entries[RETRIES].data.number = 2;
    m_entries[TIMEOUT].data.number = 150;
    m_entries[DELAY].data.number = 10;
    SetCommunity(m_readCommunity, kDefaultReadCommunity);
    SetCommunity(m_writeCommunity, kDefaultWriteCommunity);
}

REGRESULT CRegSettings::Load()
{
    m_table->SetRoot(HKEY_CURRENT_USER);
    REGRESULT result = m_table->ReadAll(&m_keyTable);
    if (result != 0)
        SetDefaults();
    return result;
}

REGRESULT CRegSettings::Save()
{
    m_table->SetRoot(HKEY_CURRENT_USER);
    return m_table->WriteAll(&m_keyTable);
}

REGRESULT CRegSettings::CreateKey()
{
    m_table->SetRoot(HKEY_CURRENT_USER);
    return m_table->CreateAll(&m_keyTable);
}

int CRegSettings::GetRetries() const { return static_cast<int>(m_entries[RETRIES].data.number); }
void CRegSettings::SetRetries(int value) { m_entries[RETRIES].data.number = static_cast<DWORD>(value); }
int CRegSettings::GetTimeout() const { return static_cast<int>(m_entries[TIMEOUT].data.number); }
void CRegSettings::SetTimeout(int value) { m_entries[TIMEOUT].data.number = static_cast<DWORD>(value); }
int CRegSettings::GetDelay() const { return static_cast<int>(m_entries[DELAY].data.number); }
void CRegSettings::SetDelay(int value) { m_entries[DELAY].data.number = static_cast<DWORD>(value); }
int CRegSettings::GetSwitches() const { return static_cast<int>(m_entries[SWITCHES].data.number); }
void CRegSettings::SetSwitches(int value) { m_entries[SWITCHES].data.number = static_cast<DWORD>(value); }
int CRegSettings::GetSwitchMask() const { return static_cast<int>(m_entries[SWITCHMASK].data.number); }

int CRegSettings::SetReadCommunity(LPCSTR text) { return SetCommunity(m_readCommunity, text); }
int CRegSettings::SetWriteCommunity(LPCSTR text) { return SetCommunity(m_writeCommunity, text); }
void CRegSettings::GetReadCommunity(LPSTR dest, int capacity) const { GetCommunity(m_readCommunity, dest, capacity); }
void CRegSettings::GetWriteCommunity(LPSTR dest, int capacity) const { GetCommunity(m_writeCommunity, dest, capacity); }
