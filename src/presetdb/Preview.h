#pragma once

#include "runtime/Runtime.h"

#include <iosfwd>

namespace torvex::presetdb {

// A preview of a silent run: the whole regeneration, with the work file (the
// private copy of the template that the new table is built in) in a
// temporary folder of its own, and its report printed on `out`. The plant's
// files are only read; nothing of the plant is written:
// no ini file, no edit record, no database, no log (the runtime's entries go
// to standard error). Returns the exit status: 0 when the preview ran, 1
// when it failed, as for a silent run.
int RunPreview(runtime::Runtime& rt, std::ostream& out);

} // namespace torvex::presetdb
