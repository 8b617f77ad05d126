// What the device dialogs share: the texts of their retry questions and
// warnings, the retry loop, and numbers shown in and read from controls.
#pragma once

#include <afxwin.h>

#include <cstdint>
#include <functional>

extern const char kReadRetryText[];  // "Could Not Read All Values ..."
extern const char kWriteRetryText[]; // "Could Not Write All Variables ..."
extern const char kDefaultsChangedText[];

// Runs `op` until it returns 0 or the user refuses to retry `question`
// (caption "Error", Yes/No); the last result.
int RetryLoop(CWnd& wnd, const char* question, const std::function<int()>& op);

void SetItemNumber(CWnd& wnd, int id, int32_t value); // "%d"
// The control's first `chars` characters as a number (ParseNumber).
bool GetItemNumber(CWnd& wnd, int id, int chars, uint32_t& value);
