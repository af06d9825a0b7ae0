#pragma once

#include "platform/ProgramEnd.h"

namespace torvex::runtime {
using platform::ProgramEnd;
} // namespace torvex::runtime
