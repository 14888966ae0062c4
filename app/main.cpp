#include "Entry.h"
#include "GtkHost.h"

int main(int argc, char** argv) { return lumivale::RunLauncher(argc, argv, lumivale::OpenGtkHost); }
