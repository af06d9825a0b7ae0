#pragma once

#include <string>

namespace torvex::bench {

// A synthetic plant for measuring the generation at scale.
struct PlantShape {
    int machines = 5;
    int rowsPerMachine = 200; // template rows, so machines * rowsPerMachine rows are generated
};

// Writes a plant under `folder`: program ini with `machines` machines (all
// carrying the component), configuration file with one additional field, a
// template with patterns for 50 parts in both schemes, and an old preset
// database with as many rows as will be generated: most match a generated row,
// some in other letter case, some in the other scheme's names (renamed by the
// run), some without a partner. Returns the installation folder.
std::string WritePlant(const std::string& folder, const PlantShape& shape);

} // namespace torvex::bench
