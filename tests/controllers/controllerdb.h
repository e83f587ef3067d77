#pragma once

#include "profiledb.h"

using ControllerDbTest = ProfileDbTest;
