#include "PrefwellApp.h"

CPrefwellApp theApp;

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
