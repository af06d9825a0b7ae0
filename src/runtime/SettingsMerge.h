#pragma once

#include <optional>
#include <string>

namespace torvex::runtime {

// Whether saving writes the window's value of one ini entry into a file that
// another program may have changed since the window read it. `atLoad` is
// the entry as the file held it when the window read it, `now` as it holds
// it inside the write's step (std::nullopt: no such entry).
//
//   changed here | settings read | file: now vs at load | written?
//   yes          | either        | either               | yes: the user's value wins
//   no           | no            | either               | no: the window showed defaults, not the file
//   no           | yes           | changed              | no: the other program's value stays
//   no           | yes           | the same             | yes: the value shown (a missing entry is made)
inline bool WriteEntryOnSave(bool changedHere, bool settingsRead, const std::optional<std::string>& atLoad,
                             const std::optional<std::string>& now) {
    if (changedHere)
        return true;
    return settingsRead && now == atLoad;
}

} // namespace torvex::runtime
