// The whole automation layer in one include.
#pragma once

#include "automation/ActiveObjects.h"
#include "automation/ClassRegistry.h"
#include "automation/Convert.h"
#include "automation/Dispatch.h"
#include "automation/Error.h"
#include "automation/Events.h"
#include "automation/TextCompare.h"
#include "automation/Variant.h"
