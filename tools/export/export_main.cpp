#include "export_surface.h"

int main(int argc, char** argv) { return exportMain(argc, argv); }
