#pragma once
// The COM runtime layer as one include: the object base (ComObject.h), the
// server and its factories (ComServer.h), GUID and code-page text (ComText.h),
// error objects (ComErrorInfo.h) and registry entries (ComRegistry.h).
#include "ComErrorInfo.h"
#include "ComObject.h"
#include "ComRegistry.h"
#include "ComServer.h"
#include "ComText.h"
