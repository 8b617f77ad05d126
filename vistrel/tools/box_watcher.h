// Tooling for unattended runs of the console: answers every real message box
// with its default button, after writing "box: <caption>: <text>" to a stream.
#pragma once

#include <cstdio>
#include <functional>

// Starts watching for message boxes; each is reported once when it appears
// and answered as soon as `answer` allows it (at once without one). While a
// box is up, `answer` is asked at every look with the box's number (1 for
// the first) and whether it has just appeared.
void WatchMessageBoxes(std::FILE* out, std::function<bool(int box, bool appeared)> answer = nullptr);
