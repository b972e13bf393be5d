#include "app/AppContext.h"

#include "app/AppFiles.h"

AppContext::AppContext() : AppContext(GetProgramFolder(nullptr)) {}
