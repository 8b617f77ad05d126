#include "dlgshot.h"

int main(int argc, char** argv) { return dlgshot::Main(argc, argv); }
