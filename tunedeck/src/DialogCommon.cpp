#include "DialogCommon.h"

#include <cstdio>
#include <vector>

#include "NumberText.h"

const char kReadRetryText[] = "Could Not Read All Values\n    Retry?";
const char kWriteRetryText[] = "Could Not Write All Variables\n\n                    Retry ?";
const char kDefaultsChangedText[] = "Invalid Values have been changed to defaults";

int RetryLoop(CWnd& wnd, const char* question, const std::function<int()>& op)
{
    for (;;) {
        const int result = op();
        if (result == 0)
            return 0;
        if (wnd.MessageBox(question, "Error", MB_YESNO | MB_ICONERROR) != IDYES)
            return result;
    }
}

void SetItemNumber(CWnd& wnd, int id, int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    wnd.SetDlgItemText(id, text);
}

bool GetItemNumber(CWnd& wnd, int id, int chars, uint32_t& value)
{
    std::vector<char> text(static_cast<size_t>(chars) + 1, 0);
    wnd.GetDlgItemText(id, text.data(), chars + 1);
    return ParseNumber(text.data(), value);
}
