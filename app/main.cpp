// The Zuvrex5 executable: hands the process arguments to the entry and returns its exit status.
#include "app/entry.h"

int main(int argc, char** argv) { return app::RunEntry(argc, argv); }
