// The Windows start-up: the command-line words arrive as wide text from the
// C runtime's wide entry point (linked with -municode).
#include "platform/platform.h"

extern "C" int wmain(int argc, wchar_t** argv) { return ParcelotMain(argc, argv); }
