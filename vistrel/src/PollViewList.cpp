// The poll view's side of the device list: columns, image list and header
// menu, sorting by a clicked column, column widths and the copy text.
#include "PollView.h"

#include "IniFile.h"
#include "resource.h"

#include <qm/console.h>

#include <cstring>

namespace {

// A field of the copy text: quoted when it holds a comma.
std::string Field(const std::string& text)
{
    return (text.find(',') == std::string::npos ? text : "\"" + text + "\"") + ",";
}

int Sign(long long difference) { return difference > 0 ? 1 : difference < 0 ? -1 : 0; }

} // namespace

int PollView::HeaderCount() const
{
    CHeaderCtrl* header = list ? list->GetHeaderCtrl() : nullptr;
    return header ? header->GetItemCount() : 0;
}

std::string PollView::HeaderText(int index) const
{
    std::string text;
    int width = 0;
    return HeaderItem(list ? list->GetHeaderCtrl() : nullptr, index, text, width) ? text : std::string();
}

int PollView::RowImage(int row) const
{
    LVITEM item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    return list->GetItem(&item) ? item.iImage : -1;
}

std::string PollView::CellText(int row, int column) const { return list->GetItemText(row, column).str(); }

void PollView::SetUpList(CListCtrl* listControl, CMenu* headerMenu, UINT& moreCommandId)
{
    list = listControl;
    for (const auto& [id, column] : byId)
        headerMenu->AppendMenu(MF_STRING, static_cast<UINT_PTR>(id), column->name.c_str());
    headerMenu->AppendMenu(MF_SEPARATOR);
    moreCommandId = static_cast<UINT>(ID_HEADER_FIRST + BuiltInCount());
    headerMenu->AppendMenu(MF_STRING, moreCommandId, "More...");
    CheckHeaderMenu(headerMenu);

    imageList.Create(16, 16, 0, 0, 3);
    onlineImage = imageList.Add(::LoadIcon(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDI_ONLINE)));
    offlineImage = imageList.Add(::LoadIcon(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDI_OFFLINE)));
    list->SetImageList(&imageList, LVSIL_SMALL);

    const char* const widths = "Width of Default Columns";
    list->InsertColumn(0, "S", LVCFMT_CENTER, ReadIniInt(widths, "Status Col Width", 20));
    list->InsertColumn(1, "MAC Address", LVCFMT_LEFT, ReadIniInt(widths, "MAC Address", 100));
    list->InsertColumn(2, "IP Address", LVCFMT_LEFT, ReadIniInt(widths, "IP Address", 100));
    int next = 3;
    for (const auto& name : startUpOrder) {
        auto found = shownByName.find(name);
        if (found == shownByName.end())
            continue;
        list->InsertColumn(next++, name.c_str(), found->second->format, found->second->width);
    }
}

void PollView::CheckHeaderMenu(CMenu* menu)
{
    for (const auto& [id, column] : byId) {
        const bool shown = shownByName.count(column->name) && shownByName.at(column->name) == column;
        menu->CheckMenuItem(static_cast<UINT>(id), MF_BYCOMMAND | (shown ? MF_CHECKED : MF_UNCHECKED));
    }
}

void PollView::SetColumnWidth(int index, int width)
{
    qm::console() << "Col: <" << index << "> to be ";
    auto found = shownByName.find(HeaderText(index));
    if (found != shownByName.end()) {
        found->second->width = width;
        qm::console() << width << std::endl;
    } else {
        qm::console() << "xxxx" << std::endl;
    }
}

void PollView::SortBy(int column)
{
    if (Count() < 2 || !list)
        return;
    sortDirection = column == sortColumn ? -sortDirection : 1;
    sortColumn = column;
    const int rows = list->GetItemCount();
    for (int r = 0; r < rows; ++r)
        list->SetItemData(r, static_cast<DWORD_PTR>(r));

    numericSort = false;
    if (column >= 3) {
        auto shown = shownByName.find(HeaderText(column));
        if (shown != shownByName.end() && shown->second->oids.size() == 1 && !byMac.empty()) {
            const auto& values = byMac.begin()->second->values;
            auto value = values.find(shown->second->oids.front());
            if (value != values.end()) {
                const int32_t type = value->second.type;
                numericSort = type == 2 || type == 65 || type == 70 || type == 71;
            }
        }
    }
    if (column == 0 || column == 2)
        numericSort = true;

    // The comparison reads each row by its old index: take the keys once.
    sortTexts.assign(static_cast<size_t>(rows), std::string());
    sortImages.assign(static_cast<size_t>(rows), 0);
    for (int r = 0; r < rows; ++r) {
        if (column == 0)
            sortImages[static_cast<size_t>(r)] = RowImage(r);
        else
            sortTexts[static_cast<size_t>(r)] = CellText(r, column);
    }
    list->SortItems(&PollView::Compare, reinterpret_cast<DWORD_PTR>(this));
    sortTexts.clear();
    sortImages.clear();
}

int CALLBACK PollView::Compare(LPARAM first, LPARAM second, LPARAM view)
{
    const PollView& v = *reinterpret_cast<const PollView*>(view);
    const size_t i = static_cast<size_t>(first), j = static_cast<size_t>(second);
    int result;
    if (v.sortColumn == 0) {
        result = Sign(static_cast<long long>(static_cast<uint32_t>(v.sortImages[i])) -
                      static_cast<long long>(static_cast<uint32_t>(v.sortImages[j])));
    } else if (v.sortColumn == 2) {
        result = Sign(static_cast<long long>(ParseIp(v.sortTexts[i]).number) -
                      static_cast<long long>(ParseIp(v.sortTexts[j]).number));
    } else if (v.numericSort) {
        const uint64_t a = SortNumber(v.sortTexts[i]), b = SortNumber(v.sortTexts[j]);
        result = a > b ? 1 : a < b ? -1 : 0;
    } else {
        result = Sign(std::strcmp(v.sortTexts[i].c_str(), v.sortTexts[j].c_str()));
    }
    return result * v.sortDirection;
}

void PollView::CopyText(std::string& text)
{
    text.clear();
    if (!list)
        return;
    const int columns = HeaderCount();
    std::vector<std::string> headers;
    for (int c = 0; c < columns; ++c) {
        headers.push_back(HeaderText(c));
        text += Field(headers.back());
    }
    text += "\r\n";
    for (int c = 0; c < columns; ++c) {
        std::string oids;
        if (c >= 3) {
            auto shown = shownByName.find(headers[static_cast<size_t>(c)]);
            if (shown != shownByName.end())
                for (size_t i = 0; i < shown->second->oids.size(); ++i)
                    oids += (i ? "*" : "") + shown->second->oids[i];
        }
        text += oids + ",";
    }
    text += "\r\n";
    const int rows = list->GetItemCount();
    for (int r = 0; r < rows; ++r) {
        text += RowImage(r) == onlineImage ? "1," : "0,";
        for (int c = 1; c < columns; ++c)
            text += Field(CellText(r, c));
        text += "\r\n";
    }
}
