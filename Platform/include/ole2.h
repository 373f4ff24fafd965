// COM and OLE automation, as <ole2.h> gathers them on Windows.
#pragma once

#include "objbase.h"
#include "oleauto.h"
