// Poll columns: definitions from "vistrel.ini", the shown and available
// groups, and saving the user's columns and the shown columns' widths.
#include "ColumnSet.h"

#include "ColumnEditDlg.h"
#include "IniFile.h"
#include "resource.h"

#include <qm/console.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char* const system_description_oid = "1.3.6.1.2.1.1.1.0";

std::string TrimSpaces(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

bool ParseColumnDefinition(const std::string& value, Column& column)
{
    column.oids.clear();
    const size_t comma = value.find(',');
    if (comma == std::string::npos) {
        column.dynamic = false;
        const std::string oid = TrimSpaces(value);
        if (IsValidOid(oid))
            column.oids.push_back(oid);
        return !column.oids.empty();
    }
    column.dynamic = !value.empty() && (value[0] == 'D' || value[0] == 'd');
    size_t at = comma;
    while (at != std::string::npos) {
        const size_t next = value.find(',', at + 1);
        const std::string oid =
            TrimSpaces(value.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        if (!IsValidOid(oid))
            break;
        column.oids.push_back(oid);
        at = next;
    }
    return !column.oids.empty();
}

std::string ColumnEntryText(const std::string& name, const std::vector<std::string>& oids)
{
    std::string text = name + " -- [ ";
    for (size_t i = 0; i < oids.size(); ++i)
        text += (i ? ", " : "") + oids[i];
    return text + " ]";
}

std::string EntryName(const std::string& text) { return text.substr(0, text.find(" -- [ ")); }

ColumnSet::ColumnSet(CWnd* parent) : CDialog(IDD_COLUMN_CHOOSER, parent)
{
    LoadDefinitions();
    LoadUserColumns();
}

ColumnSet::~ColumnSet() = default;

Column* ColumnSet::MakeColumn(const std::string& name, const std::string& definition, int id)
{
    auto column = std::make_unique<Column>();
    column->name = name;
    if (!ParseColumnDefinition(definition, *column))
        return nullptr;
    column->id = id;
    if (column->oids.size() > 1)
        column->join = &ColumnSet::JoinValues;
    columns.push_back(std::move(column));
    return columns.back().get();
}

Column* ColumnSet::AddUserColumn(const std::string& name, const std::string& oid)
{
    auto column = std::make_unique<Column>();
    column->name = name;
    column->oids = {oid};
    column->dynamic = true;
    columns.push_back(std::move(column));
    return columns.back().get();
}

void ColumnSet::Enter(Column* column, std::map<std::string, Column*>& names, std::map<std::string, Column*>& oids)
{
    names[column->name] = column;
    for (const auto& oid : column->oids)
        oids[oid] = column;
}

void ColumnSet::LoadDefinitions()
{
    IniFile ini(VistrelIniPath());
    int nextId = ID_HEADER_FIRST;
    for (const auto& [name, value] : ini.read_section("Default Columns")) {
        Column* column = MakeColumn(name, value, nextId);
        if (!column)
            continue;
        ++nextId;
        Enter(column, availableByName, availableByOid);
        byId[column->id] = column;
    }
    auto it = availableByOid.find(system_description_oid);
    if (it != availableByOid.end())
        it->second->format = 0;
}

void ColumnSet::LoadUserColumns()
{
    IniFile ini(VistrelIniPath());
    for (const auto& [name, value] : ini.read_section("Customer Columns"))
        if (Column* column = MakeColumn(name, value, 0))
            Enter(column, availableByName, availableByOid);

    for (const auto& [name, value] : ini.read_section("Start Up Columns")) {
        auto it = availableByName.find(name);
        if (it == availableByName.end())
            continue;
        Column* column = it->second;
        startUpOrder.push_back(name);
        column->width = std::atoi(value.c_str());
        qm::console() << "width: " << column->width;
        MoveToShown(column);
    }
}

Column* ColumnSet::FindByName(const std::string& name) const
{
    if (auto it = shownByName.find(name); it != shownByName.end())
        return it->second;
    if (auto it = availableByName.find(name); it != availableByName.end())
        return it->second;
    return nullptr;
}

Column* ColumnSet::FindByOid(const std::string& oid) const
{
    if (auto it = shownByOid.find(oid); it != shownByOid.end())
        return it->second;
    if (auto it = availableByOid.find(oid); it != availableByOid.end())
        return it->second;
    return nullptr;
}

bool ColumnSet::IsBuiltIn(const std::string& name) const
{
    const Column* column = FindByName(name);
    return column && column->id != 0;
}

bool ColumnSet::SetVisible(int id, bool show)
{
    auto it = byId.find(id);
    if (it == byId.end())
        return false;
    const std::string name = it->second->name;
    return show ? AddColumn(name) : RemoveColumn(name);
}

namespace {

// Takes the column out of one group: only the entries that point at it.
void TakeOut(Column* column, std::map<std::string, Column*>& names, std::map<std::string, Column*>& oids)
{
    if (auto it = names.find(column->name); it != names.end() && it->second == column)
        names.erase(it);
    for (const auto& oid : column->oids)
        if (auto it = oids.find(oid); it != oids.end() && it->second == column)
            oids.erase(it);
}

} // namespace

void ColumnSet::MoveToShown(Column* column)
{
    TakeOut(column, availableByName, availableByOid);
    Enter(column, shownByName, shownByOid);
}

void ColumnSet::MoveToAvailable(Column* column)
{
    TakeOut(column, shownByName, shownByOid);
    Enter(column, availableByName, availableByOid);
}

void ColumnSet::Forget(Column* column)
{
    TakeOut(column, shownByName, shownByOid);
    TakeOut(column, availableByName, availableByOid);
    columns.erase(std::remove_if(columns.begin(), columns.end(),
                                 [column](const std::unique_ptr<Column>& c) { return c.get() == column; }),
                  columns.end());
}

bool HeaderItem(CHeaderCtrl* header, int index, std::string& text, int& width)
{
    std::vector<char> buffer(256);
    for (;;) {
        HDITEM item{};
        item.mask = HDI_TEXT | HDI_WIDTH;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        if (!header || !header->GetItem(index, &item))
            return false;
        if (std::strlen(buffer.data()) + 1 < buffer.size()) {
            text = buffer.data();
            width = item.cxy;
            return true;
        }
        buffer.assign(buffer.size() * 2, '\0');
    }
}

void ColumnSet::Save(CHeaderCtrl* header)
{
    // Each section is replaced in one rewrite of the file, so a failed write
    // leaves it as it was instead of losing entries.
    std::vector<std::pair<std::string, std::string>> users;
    for (auto* group : {&shownByName, &availableByName}) {
        for (const auto& [name, column] : *group) {
            if (column->id != 0)
                continue;
            std::string value = column->dynamic ? "D" : "S";
            for (const auto& oid : column->oids)
                value += "," + oid;
            users.emplace_back(name, value);
        }
    }
    WriteIniSection("Customer Columns", users);

    const int count = std::min(header ? header->GetItemCount() : 0, 256);
    int order[256];
    if (!header || count < 0 || !header->GetOrderArray(order, count)) {
        qm::console() << "didn't saved" << std::endl;
    } else {
        std::vector<std::pair<std::string, std::string>> startUp;
        for (int position = 0; position < count; ++position) {
            std::string text;
            int width = 0;
            if (!HeaderItem(header, order[position], text, width))
                continue;
            auto it = shownByName.find(text);
            if (it == shownByName.end())
                continue;
            it->second->width = width;
            startUp.emplace_back(text, std::to_string(width));
            qm::console() << width << "   ";
        }
        WriteIniSection("Start Up Columns", startUp);
    }
    qm::console() << "column width has written" << std::endl;
}
