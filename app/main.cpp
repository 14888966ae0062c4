#include "Entry.h"

int main(int argc, char** argv) { return lumivale::RunLauncher(argc, argv); }
