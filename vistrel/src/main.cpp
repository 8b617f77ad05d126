// Vistrel, the Veltrix network console.
#include "VistrelApp.h"

CVistrelApp theApp;

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
