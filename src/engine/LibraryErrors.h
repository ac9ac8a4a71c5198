#pragma once

#include "binding/LibraryErrors.h"
