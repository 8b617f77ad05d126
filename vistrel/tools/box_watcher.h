// Tooling for unattended runs of the console: answers every real message box
// with its default button, after writing "box: <caption>: <text>" to a stream.
#pragma once

#include <cstdio>

// Starts watching for message boxes; each is reported once when it appears
// and answered once it has been up for answerAfterMs.
void WatchMessageBoxes(std::FILE* out, int answerAfterMs = 0);
